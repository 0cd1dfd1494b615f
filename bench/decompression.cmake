# Decompression alone: zlib against ISA-L for gzip, libzstd, and the reader's Entree
# (bench/entrees_compressees.sh runs it on the compressed copies of its cohort).
find_package(ZLIB REQUIRED)
add_executable(decompression ${CMAKE_CURRENT_LIST_DIR}/decompression.cpp)
target_link_libraries(decompression PRIVATE commun ZLIB::ZLIB PkgConfig::ISAL PkgConfig::ZSTD)
