# Snapshots crowded with opponents for bench/commande_convertir_foule.sh (time per MB of convertir on
# one line of 0.5 to 8 MB, against a reference commit).
add_executable(generer_foule ${CMAKE_CURRENT_LIST_DIR}/generer_foule.cpp)
