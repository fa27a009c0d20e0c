add_executable(bench_explorer explorer_bench.cpp)
target_link_libraries(bench_explorer PRIVATE qar_explorer_core qar_opcclient_testing benchmark::benchmark
                      benchmark::benchmark_main)
