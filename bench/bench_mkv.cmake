# Matroska sink throughput: ten minutes of 2.5 Mbit/s, 30 fps access units into a tmpfs file.
add_executable(bench_mkv ${CMAKE_CURRENT_LIST_DIR}/bench_mkv.cpp)
target_link_libraries(bench_mkv PRIVATE mkv benchmark::benchmark benchmark::benchmark_main)
