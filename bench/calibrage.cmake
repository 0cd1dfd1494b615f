# Whole-command benchmarks of calibrage (bench/commandes_calibrage.sh) and their floor: a bare SAX pass.
add_executable(passe_sax_nue ${CMAKE_CURRENT_LIST_DIR}/passe_sax_nue.cpp)
target_include_directories(passe_sax_nue SYSTEM PRIVATE ${RAPIDJSON_INCLUDE})
