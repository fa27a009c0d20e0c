add_executable(bench_protocol protocol_bench.cpp)
target_link_libraries(bench_protocol PRIVATE qar_driver benchmark::benchmark benchmark::benchmark_main)
