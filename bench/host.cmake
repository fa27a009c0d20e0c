add_executable(bench_host ${CMAKE_CURRENT_LIST_DIR}/host_bench.cpp)
target_link_libraries(bench_host PRIVATE qar_host_fake qar_host_installed qar_com_rpc benchmark::benchmark)

add_executable(bench_host_load ${CMAKE_CURRENT_LIST_DIR}/host_load_bench.cpp)
target_link_libraries(bench_host_load PRIVATE qar_host_fake qar_service_testing qar_com_rpc)

add_executable(bench_host_browse ${CMAKE_CURRENT_LIST_DIR}/host_browse_bench.cpp)
target_link_libraries(bench_host_browse PRIVATE qar_host_installed qar_com_rpc)
