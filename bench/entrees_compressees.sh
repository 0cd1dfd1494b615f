#!/usr/bin/env bash
# Compressed inputs: decompression alone (zlib against ISA-L for gzip, libzstd), then
# `calibrage controler` on the same generated cohort as text, as .jsonl.gz (gzip -6) and as
# .jsonl.zst (zstd -3): medians over the runs of one hyperfine call, and the throughput of
# each compressed form against the text (MB/s of text analysed, median against median).
#
#   bench/entrees_compressees.sh            # data in bench/donnees/, 5 runs each
#   MO=300 RUNS=10 bench/entrees_compressees.sh
set -euo pipefail

racine=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$racine/build/linux}
mo=${MO:-250}
runs=${RUNS:-5}
donnees=${DONNEES:-$racine/bench/donnees}

cd "$racine"
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target calibrage generer_telemetrie decompression >/dev/null
calibrage=$build/src/bin/calibrage/calibrage

mkdir -p "$donnees"
entree=$donnees/cohorte-${mo}mo.jsonl
[ -s "$entree" ] || "$build/bench/generer_telemetrie" "$entree" "$mo"
[ -s "$entree.gz" ] || gzip -6 -k "$entree"
[ -s "$entree.zst" ] || zstd -q -3 -k "$entree"
octets=$(stat -c %s "$entree")

"$build/bench/decompression" "$entree.gz" "$entree.zst" "$runs"
echo

csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
hyperfine --style basic --warmup 1 --runs "$runs" --export-csv "$csv" \
  -n texte "'$calibrage' controler --sortie /dev/null '$entree'" \
  -n gzip "'$calibrage' controler --sortie /dev/null '$entree.gz'" \
  -n zstd "'$calibrage' controler --sortie /dev/null '$entree.zst'" >&2

echo
awk -v f="$entree" -v o="$octets" -v g="$(stat -c %s "$entree.gz")" -v z="$(stat -c %s "$entree.zst")" \
  'BEGIN { printf "données : %s (%.1f MB ; .gz %.1f MB ; .zst %.1f MB)\n", f, o / 1e6, g / 1e6, z / 1e6 }'
awk -F, -v octets="$octets" '
  NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  {
    nom = $col["command"]; med = $col["median"]
    printf "controler %-6s temps min/méd/max %.3f / %.3f / %.3f s   %.0f MB/s de texte (médiane)\n",
      nom, $col["min"], med, $col["max"], octets / 1e6 / med
    mediane[nom] = med
  }
  END {
    printf "débit gzip / texte : %.2f   zstd / texte : %.2f\n", mediane["texte"] / mediane["gzip"], mediane["texte"] / mediane["zstd"]
  }' "$csv"
