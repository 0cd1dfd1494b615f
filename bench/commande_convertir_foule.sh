#!/usr/bin/env bash
# Whole-command benchmark of `calibrage convertir` on crowded snapshots: one line `{"players":[...]}` of
# 0.5, 1, 2, 4 and 8 MB whose players are all candidates, so the target history passes its bound and is
# pruned against every player of the line. Prints the time per MB at each size (median wall time and mean
# processor time, user + system, over the runs): it stays flat when the pruning is linear in the players.
# With REFERENCE=<commit>, the same files go through the calibrage of that commit too (built once under
# build/reference-<commit>/), its output is compared with today's, and the ratio of the two is printed.
#
#   bench/commande_convertir_foule.sh                      # data in bench/donnees/, 5 runs per size
#   REFERENCE=HEAD~1 bench/commande_convertir_foule.sh     # also the commit before, 1 run per size
#   TAILLES="1 2" RUNS=5 RUNS_REFERENCE=3 bench/commande_convertir_foule.sh
#
# Data: bench/donnees/foule-<taille>mo.jsonl, written once by generer_foule and reused by later runs.
set -euo pipefail

racine=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$racine/build/linux}
tailles=${TAILLES:-0.5 1 2 4 8}
runs=${RUNS:-5}
runs_reference=${RUNS_REFERENCE:-1}
donnees=${DONNEES:-$racine/bench/donnees}

cd "$racine"
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target calibrage generer_foule >/dev/null
calibrage=$build/src/bin/calibrage/calibrage
generateur=$build/bench/generer_foule

reference=
if [ -n "${REFERENCE:-}" ]; then
  commit=$(git rev-parse --verify "${REFERENCE}^{commit}")
  arbre=$racine/build/reference-${commit:0:12}
  reference=$arbre/build/linux/src/bin/calibrage/calibrage
  if [ ! -x "$reference" ]; then
    rm -rf "$arbre"
    mkdir -p "$arbre"
    git archive "$commit" | tar -x -C "$arbre"
    (cd "$arbre" && cmake --preset linux >/dev/null && cmake --build --preset linux -j2 --target calibrage >/dev/null)
  fi
  echo "référence : ${REFERENCE} (${commit:0:12})" >&2
fi

mkdir -p "$donnees"
csv=$(mktemp)
sortie=$(mktemp)
sortie_reference=$(mktemp)
trap 'rm -f "$csv" "$sortie" "$sortie_reference"' EXIT

# Median wall seconds and mean processor seconds of the last hyperfine call.
mesure() {
  awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
           { printf "%s %s", $col["median"], $col["user"] + $col["system"] }' "$csv"
}

lignes=()
for taille in $tailles; do
  entree=$donnees/foule-${taille}mo.jsonl
  if [ ! -s "$entree" ]; then "$generateur" "$entree" "$taille"; fi
  octets=$(stat -c %s "$entree")
  hyperfine --style basic --warmup 1 --runs "$runs" --export-csv "$csv" \
    -n "aujourd'hui ${taille} MB" "'$calibrage' convertir --sortie '$sortie' '$entree'" >&2
  ligne="$octets $(mesure)"
  if [ -n "$reference" ]; then
    hyperfine --style basic --runs "$runs_reference" --export-csv "$csv" \
      -n "référence ${taille} MB" "'$reference' convertir --sortie '$sortie_reference' '$entree'" >&2
    if ! cmp -s "$sortie" "$sortie_reference"; then
      echo "sorties différentes pour $entree" >&2
      exit 1
    fi
    ligne="$ligne $(mesure)"
  fi
  lignes+=("$ligne")
done

echo
printf '%s\n' "${lignes[@]}" | awk -v ref="$reference" '
  BEGIN {
    if (ref == "") print "    MB   s/MB (méd.)  s/MB (proc.)"
    else print "    MB   s/MB (méd.)  s/MB (proc.)   référence s/MB (méd.)  s/MB (proc.)   référence / aujourd'\''hui (méd.)"
  }
  {
    mo = $1 / 1e6
    printf "%6.2f   %11.4f  %12.4f", mo, $2 / mo, $3 / mo
    if (NF == 5) printf "   %21.4f  %12.4f   %10.1f", $4 / mo, $5 / mo, $4 / $2
    printf "\n"
  }'
