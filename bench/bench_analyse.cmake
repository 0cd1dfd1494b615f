# Analysis throughput (frames per second of analyse_match on synthetic matches).
add_executable(bench_analyse ${CMAKE_CURRENT_LIST_DIR}/bench_analyse.cpp)
target_link_libraries(bench_analyse PRIVATE comportement benchmark::benchmark)
