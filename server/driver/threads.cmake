# The request scheduler and the driver threads with their time-slot loop.
target_sources(qar_driver PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/driver_thread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/funk_view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mop_loop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scheduler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/thread_priority.cpp
)

qar_test(scheduler_tests LABELS unit
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/tests/scheduler_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/driver_thread_test.cpp
  LIBS qar_driver)

# The work loop against the simulator's central modem in-process, on a virtual clock.
qar_test(mop_loop_tests LABELS unit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/mop_loop_test.cpp
  LIBS qar_driver qar_radiosim)

# The driver thread against the simulator program over a pty, in real time.
qar_test(driver_e2e_tests LABELS e2e
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tests/driver_e2e_test.cpp
  LIBS qar_driver qar_simulator_process)
