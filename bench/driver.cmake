add_executable(bench_driver config_bench.cpp)
target_link_libraries(bench_driver PRIVATE qar_driver benchmark::benchmark benchmark::benchmark_main)
