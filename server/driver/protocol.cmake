# The 3964R line procedure, the request telegrams and the answer processing.
target_sources(qar_driver PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/answer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/custom_funk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame3964.cpp
  ${CMAKE_CURRENT_LIST_DIR}/register_access.cpp
  ${CMAKE_CURRENT_LIST_DIR}/telegram.cpp
)
target_link_libraries(qar_driver PUBLIC qar_serial)

qar_test(protocol_tests LABELS unit
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tests/frame3964_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/telegram_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/answer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/line_test.cpp
  LIBS qar_driver)

qar_test(protocol_e2e_tests LABELS e2e
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/protocol_e2e_test.cpp
  LIBS qar_driver qar_simulator_process)
