# The fuzz targets' build (the fuzz preset): Debian's clang 16 with its libFuzzer runtime
# (libclang-rt-16-dev), address and undefined-behaviour sanitizers on every library, coverage
# instrumentation for libFuzzer (fuzzer-no-link; the targets alone link its main, see fuzz/).
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)

# libstdc++ 12 declares std::expected only when __cpp_concepts >= 202002L; clang 16 supports what
# <expected> needs but still announces 201907L. Restated for this build only (undefined first, so no
# redefinition warning): GCC, the compiler of every other build, needs nothing of the kind.
set(BALISOR_FUZZ_CONCEPTS "-U__cpp_concepts -D__cpp_concepts=202002L")

# Every undefined-behaviour check ends the run at its first report, except pointer-overflow, left
# recoverable so that fuzz/ubsan.supp can silence its one known report inside RapidJSON;
# UBSAN_OPTIONS=halt_on_error=1 still stops the run at any other report of that check.
set(CMAKE_CXX_FLAGS_INIT
    "-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined -fsanitize-recover=pointer-overflow -fno-omit-frame-pointer ${BALISOR_FUZZ_CONCEPTS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fsanitize=address,undefined")
# Fast enough to run many inputs a second, with asserts (RapidJSON's included) and line numbers in
# reports: no NDEBUG.
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O1 -g" CACHE STRING "Flags of the fuzz build")
