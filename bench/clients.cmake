# Needs the host and both client programs' logic; built once the host's test helper exists.
if(TARGET qar_host_installed AND TARGET qar_lumaro_core AND TARGET qar_explorer_core)
  add_executable(bench_hung_server ${CMAKE_CURRENT_LIST_DIR}/hung_server_bench.cpp)
  target_link_libraries(bench_hung_server PRIVATE qar_lumaro_core qar_explorer_core qar_host_installed)
endif()
