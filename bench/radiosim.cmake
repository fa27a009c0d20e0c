add_executable(bench_radiosim ${CMAKE_CURRENT_LIST_DIR}/radiosim_bench.cpp)
target_link_libraries(bench_radiosim PRIVATE qar_radiosim benchmark::benchmark benchmark::benchmark_main)
