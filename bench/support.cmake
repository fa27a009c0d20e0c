add_executable(bench_support support_bench.cpp)
target_link_libraries(bench_support PRIVATE qar_support benchmark::benchmark benchmark::benchmark_main)
