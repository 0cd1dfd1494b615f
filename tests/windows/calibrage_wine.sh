#!/usr/bin/env bash
# calibrage.exe under wine64, held to the same expected bytes as the native program: the
# command-line test programs given as arguments are run with CALIBRAGE_PROGRAMME pointing at it.
# Usage: calibrage_wine.sh <windows build directory> <command-line test program>...
# Exit status 77 (skipped) when calibrage.exe or wine64 is missing.
set -uo pipefail
racine="$(cd "$(dirname "$0")/../.." && pwd)"
construction="${1:-$racine/build/windows}"
shift
programme="$construction/src/bin/calibrage/calibrage.exe"

wine="$(command -v wine64 || true)"
if [ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
fi
if [ -z "$wine" ]; then
  echo "wine64 absent : test ignoré" >&2
  exit 77
fi
if [ ! -f "$programme" ]; then
  echo "$programme absent (make windows) : test ignoré" >&2
  exit 77
fi

export WINEDEBUG=-all
export LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="winedbg.exe=d"
export WINEPREFIX="${WINEPREFIX:-$racine/build/wine-prefix-vextrel}"
mkdir -p "$(dirname "$WINEPREFIX")"
# One server for every run, ended with the script: left to itself it goes a few seconds after a run, the next
# run boots the prefix again (seconds each, and such a boot now and then ends in a page fault under wine).
serveur="${wine%64}server"
"$serveur" -p 2>/dev/null
trap '"$serveur" -k 2>/dev/null' EXIT
# The first run creates the prefix and talks about it on stderr: do it before comparing anything.
"$wine" "$programme" >/dev/null 2>&1

export CALIBRAGE_PROGRAMME="$programme"
export BALISOR_LANCEUR="$wine"
echecs=0
for essai in "$@"; do
  echo "== $(basename "$essai") contre calibrage.exe sous wine64"
  "$essai" --gtest_brief=1 || echecs=1
done
exit $echecs
