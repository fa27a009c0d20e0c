# The network model, the configuration loader and the station-state file.
target_sources(qar_driver PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/answer_timeout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_loader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fml.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fumo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/station_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sys_regs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wert.cpp
)

qar_test(model_tests LABELS unit
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tests/model_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/timeout_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/config_loader_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/station_state_test.cpp
  LIBS qar_driver)
