# The driver threads that the server's start creates.
target_sources(qar_driver PRIVATE ${CMAKE_CURRENT_LIST_DIR}/driver_thread.cpp)
