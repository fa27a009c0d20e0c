add_executable(bench_serial serial_bench.cpp)
target_link_libraries(bench_serial PRIVATE qar_serial benchmark::benchmark benchmark::benchmark_main)
