add_executable(bench_com com_bench.cpp)
target_link_libraries(bench_com PRIVATE qar_com_rpc benchmark::benchmark)
