#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) over our own sources, from the compilation database of the Linux
# build; fails on any finding. Usage: scripts/tidy.sh [fichier-regex] (default: src, tests, outils, bench).
set -euo pipefail
cd "$(dirname "$0")/.."
racine=$PWD
base=build/linux
db=build/tidy
if [ ! -f "$base/compile_commands.json" ]; then
  cmake --preset linux >/dev/null
fi
# clang 16 knows C++23 as c++2b; libstdc++ 12 offers <expected> only to a compiler announcing C++20
# concepts, which clang 16 does not yet: the macro is undefined, then set.
mkdir -p "$db"
sed 's/-std=c++23/-std=c++2b/g' "$base/compile_commands.json" >"$db/compile_commands.json"
motif=${1:-"^$racine/(src|tests|outils|bench)/"}
exec /usr/bin/python3 /usr/bin/run-clang-tidy-16 -quiet -p "$db" -j "${JOBS:-$(nproc)}" \
  -extra-arg=-U__cpp_concepts -extra-arg=-D__cpp_concepts=202002L "$motif"
