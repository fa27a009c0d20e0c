add_executable(bench_driver config_bench.cpp)
target_link_libraries(bench_driver PRIVATE qar_driver benchmark::benchmark benchmark::benchmark_main)

# The driver thread against the simulator over a pty: exchanges per second, CPU per exchange,
# CPU while searching.
add_executable(bench_driver_threads driver_threads_bench.cpp)
target_link_libraries(bench_driver_threads PRIVATE qar_driver qar_simulator_process benchmark::benchmark
  benchmark::benchmark_main)
