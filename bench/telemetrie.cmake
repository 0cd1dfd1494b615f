# Telemetry reader benchmarks. Data: bench/donnees/ (generated, not committed):
#   generer_telemetrie bench/donnees/telemetrie.jsonl 300
set(BALISOR_BENCH_DONNEES_DIR ${CMAKE_CURRENT_LIST_DIR}/donnees)

add_executable(generer_telemetrie ${CMAKE_CURRENT_LIST_DIR}/generer_telemetrie.cpp)
target_link_libraries(generer_telemetrie PRIVATE comportement)

add_executable(bench_telemetrie ${CMAKE_CURRENT_LIST_DIR}/bench_telemetrie.cpp)
target_link_libraries(bench_telemetrie PRIVATE comportement benchmark::benchmark)
target_compile_definitions(bench_telemetrie PRIVATE BALISOR_BENCH_DONNEES="${BALISOR_BENCH_DONNEES_DIR}")

add_executable(memoire_telemetrie ${CMAKE_CURRENT_LIST_DIR}/memoire_telemetrie.cpp)
target_link_libraries(memoire_telemetrie PRIVATE comportement)
target_compile_definitions(memoire_telemetrie PRIVATE BALISOR_BENCH_DONNEES="${BALISOR_BENCH_DONNEES_DIR}")
