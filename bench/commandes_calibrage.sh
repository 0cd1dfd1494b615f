#!/usr/bin/env bash
# Whole-command benchmarks of `calibrage calibrer` and `calibrage controler` on a generated telemetry
# cohort (at least 200 MB), against a bare RapidJSON SAX pass over the same files. Reports, per command,
# the min / median / max wall time over the runs and the matching MB/s and frames/s, then the ratio of
# controler's throughput to the bare pass (median against median, one run of this script). On a shared
# machine wall times mostly measure the neighbours: the mean processor time (user + system) is printed too.
#
#   bench/commandes_calibrage.sh            # data in bench/donnees/, 5 runs each
#   MO=300 RUNS=10 bench/commandes_calibrage.sh
#
# Data: bench/donnees/cohorte-<MO>mo.jsonl, written once by the telemetry generator of the benchmarks
# (generer_telemetrie, or $GENERATEUR); it is reused by later runs.
set -euo pipefail

racine=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$racine/build/linux}
mo=${MO:-220}
runs=${RUNS:-5}
donnees=${DONNEES:-$racine/bench/donnees}
generateur=${GENERATEUR:-$build/bench/generer_telemetrie}

cd "$racine"
cmake --preset linux >/dev/null
cibles=(calibrage passe_sax_nue)
if [ -z "${GENERATEUR:-}" ]; then cibles+=(generer_telemetrie); fi
cmake --build --preset linux -j2 --target "${cibles[@]}" >/dev/null

calibrage=$build/src/bin/calibrage/calibrage
sax=$build/bench/passe_sax_nue
if [ ! -x "$generateur" ]; then
  echo "générateur de télémétrie introuvable : $generateur (donne-le avec GENERATEUR=...)" >&2
  exit 1
fi

mkdir -p "$donnees"
entree=$donnees/cohorte-${mo}mo.jsonl
if [ ! -s "$entree" ]; then
  "$generateur" "$entree" "$mo"
fi
octets=$(stat -c %s "$entree")
trames=$(wc -l <"$entree")
rapport=$donnees/rapport-${mo}mo.json
"$calibrage" calibrer --cohorte bench --sortie "$rapport" "$entree" 2>/dev/null >/dev/null

csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
hyperfine --style basic --warmup 1 --runs "$runs" --export-csv "$csv" \
  -n calibrer "'$calibrage' calibrer --cohorte bench --sortie /dev/null '$entree'" \
  -n controler "'$calibrage' controler --rapport '$rapport' --sortie /dev/null '$entree'" \
  -n passe_sax_nue "'$sax' '$entree'" >&2

echo
awk -v f="$entree" -v o="$octets" -v t="$trames" 'BEGIN { printf "données : %s (%.1f MB, %d trames)\n", f, o / 1e6, t }'
awk -F, -v octets="$octets" -v trames="$trames" '
  NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  {
    nom = $col["command"]; mini = $col["min"]; med = $col["median"]; maxi = $col["max"]
    printf "%-14s  temps min/méd/max %.3f / %.3f / %.3f s   MB/s %.1f / %.1f / %.1f   trames/s %.0f / %.0f / %.0f\n",
      nom, mini, med, maxi, octets / 1e6 / maxi, octets / 1e6 / med, octets / 1e6 / mini,
      trames / maxi, trames / med, trames / mini
    cpu = $col["user"] + $col["system"]
    printf "%-14s  temps processeur moyen (user+sys) %.3f s   MB/s %.1f   trames/s %.0f\n", "", cpu, octets / 1e6 / cpu, trames / cpu
    mediane[nom] = med
    processeur[nom] = cpu
  }
  END {
    if (mediane["controler"] > 0)
      printf "controler / passe SAX nue (débit, médianes) : %.2f\n", mediane["passe_sax_nue"] / mediane["controler"]
    if (processeur["controler"] > 0)
      printf "controler / passe SAX nue (débit, temps processeur) : %.2f\n", processeur["passe_sax_nue"] / processeur["controler"]
    if (mediane["calibrer"] > 0)
      printf "calibrer / passe SAX nue (débit, médianes) : %.2f\n", mediane["passe_sax_nue"] / mediane["calibrer"]
  }' "$csv"
