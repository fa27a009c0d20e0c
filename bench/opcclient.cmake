add_executable(bench_opcclient opcclient_bench.cpp)
target_link_libraries(bench_opcclient PRIVATE qar_opcclient qar_opcclient_testing qar_com_fake benchmark::benchmark
                      benchmark::benchmark_main)
