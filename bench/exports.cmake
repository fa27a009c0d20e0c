add_executable(bench_exports exports_bench.cpp)
target_link_libraries(bench_exports PRIVATE qar_opc benchmark::benchmark benchmark::benchmark_main)
