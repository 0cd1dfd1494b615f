#!/usr/bin/env bash
# Whole-command benchmark of `calibrage convertir` on a generated snapshot cohort (at least 200 MB):
# min / median / max wall time over the runs, with the matching MB/s (snapshot bytes read) and
# frames/s (frames written). On a shared machine wall times mostly measure the neighbours, so the
# mean processor time (user + system) is printed too.
#
#   bench/commande_convertir.sh             # data in bench/donnees/, 5 runs
#   MATCHS=24 RUNS=10 bench/commande_convertir.sh
set -euo pipefail

racine=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$racine/build/linux}
matchs=${MATCHS:-16}
runs=${RUNS:-5}
donnees=${DONNEES:-$racine/bench/donnees}

cd "$racine"
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target calibrage generer_cohorte >/dev/null
calibrage=$build/src/bin/calibrage/calibrage
generateur=$build/outils/generer_cohorte

mkdir -p "$donnees"
entree=$donnees/instantanes-${matchs}matchs.jsonl
if [ ! -s "$entree" ]; then
  "$generateur" --profil humain --matchs "$matchs" --graine 2026 --sortie "$entree" >&2
fi
sortie=$donnees/trames-convertir.jsonl
octets=$(stat -c %s "$entree")
resume=$("$calibrage" convertir --sortie "$sortie" "$entree" 2>&1)
trames=$(wc -l <"$sortie")
echo "$resume" >&2

csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
hyperfine --style basic --warmup 1 --runs "$runs" --export-csv "$csv" \
  -n convertir "'$calibrage' convertir --sortie '$sortie' '$entree'" >&2

echo
awk -v f="$entree" -v o="$octets" -v t="$trames" 'BEGIN { printf "données : %s (%.1f MB, %d trames écrites)\n", f, o / 1e6, t }'
awk -F, -v octets="$octets" -v trames="$trames" '
  NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  {
    mini = $col["min"]; med = $col["median"]; maxi = $col["max"]
    printf "convertir  temps min/méd/max %.3f / %.3f / %.3f s   MB/s %.1f / %.1f / %.1f   trames/s %.0f / %.0f / %.0f\n",
      mini, med, maxi, octets / 1e6 / maxi, octets / 1e6 / med, octets / 1e6 / mini,
      trames / maxi, trames / med, trames / mini
    cpu = $col["user"] + $col["system"]
    printf "           temps processeur moyen (user+sys) %.3f s   MB/s %.1f   trames/s %.0f\n", cpu, octets / 1e6 / cpu, trames / cpu
  }' "$csv"
