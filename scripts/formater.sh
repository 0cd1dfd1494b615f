#!/usr/bin/env bash
# The house style, applied or checked by clang-format (options in .clang-format at the root).
#   scripts/formater.sh             formats every covered file in place (make format)
#   scripts/formater.sh --verifier  changes nothing; lists the files that are not formatted, with their first
#                                   difference, and exits 1 if there is one (make format-check)
#   scripts/formater.sh --liste     prints the covered files
# Covered: every tracked C/C++ file under src/, tests/, fuzz/, bench/ and outils/ (the one list, here).
# build/ is never tracked. CLANG_FORMAT names another binary; the version matters, since another one may
# format differently.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-clang-format-16}

fichiers=()
while IFS= read -r -d '' f; do
  case "$f" in
    *.c | *.cc | *.cpp | *.cxx | *.h | *.hh | *.hpp | *.hxx | *.ipp | *.inl) fichiers+=("$f") ;;
  esac
done < <(git ls-files -z -- src tests fuzz bench outils)

mode=${1:-}
case "$mode" in
  --liste)
    printf '%s\n' "${fichiers[@]}"
    exit 0
    ;;
  "" | --verifier) ;;
  *)
    echo "usage : scripts/formater.sh [--verifier | --liste]" >&2
    exit 2
    ;;
esac

if ! command -v "$clang_format" >/dev/null; then
  echo "$clang_format introuvable (make deps l'installe)" >&2
  exit 1
fi

if [ "$mode" = "" ]; then
  "$clang_format" -i -- "${fichiers[@]}"
  exit 0
fi

# One diagnostic per file at most: the list stays readable on a tree that was never formatted.
if rapport=$("$clang_format" --dry-run -Werror --ferror-limit=1 -- "${fichiers[@]}" 2>&1); then
  exit 0
fi
printf '%s\n' "$rapport" >&2
mal_formes=$(printf '%s\n' "$rapport" | sed -n 's/^\([^: ]*\):[0-9]*:[0-9]*: error: .*\[-Wclang-format-violations\]$/\1/p' | sort -u)
if [ -z "$mal_formes" ]; then
  # Not a formatting difference: clang-format itself failed (bad .clang-format, unreadable file).
  echo "$clang_format a échoué" >&2
  exit 1
fi
echo >&2
echo "fichiers non formatés ($(printf '%s\n' "$mal_formes" | wc -l)) ; make format les formate :" >&2
printf '  %s\n' $mal_formes >&2
exit 1
