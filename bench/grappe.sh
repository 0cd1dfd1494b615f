#!/usr/bin/env bash
# What the cluster driver costs: outils/calibrage-grappe on a local cluster of 2 workers against one
# calibrage process (which uses every core by itself), `calibrer` and `controler --rapport`, on a generated
# cohort of at least 1 GB in several files. farm-bench runs the two in turn and gives whole-command medians
# and the ratio driver / one process pair by pair, in one run. Then the partials of the same cohort:
# bytes per sample and per control line.
#
#   bench/grappe.sh                        # 1200 MB in 12 files under bench/donnees/, 3 runs each
#   MO=2000 FICHIERS=16 RUNS=5 bench/grappe.sh
#
# Data: bench/donnees/grappe-<MO>mo/, clean matches of 180 s from generer_cohorte converted by calibrage
# convertir (one seed per file), written once and reused.
set -euo pipefail

racine=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$racine/build/linux}
mo=${MO:-1200}
fichiers=${FICHIERS:-12}
runs=${RUNS:-3}
dossier=${DONNEES:-$racine/bench/donnees}/grappe-${mo}mo
pilote=$racine/outils/calibrage-grappe

cd "$racine"
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target calibrage generer_cohorte >/dev/null
calibrage=$build/src/bin/calibrage/calibrage
generer=$build/outils/generer_cohorte

# About 5.2 MB of telemetry per match of 180 s.
matchs=$(( (mo * 10 / fichiers + 51) / 52 ))
mkdir -p "$dossier"
entrees=()
for k in $(seq 1 "$fichiers"); do
  f=$dossier/g$(printf %02d "$k").jsonl
  if [ ! -s "$f" ]; then
    "$generer" --profil humain --matchs "$matchs" --graine "$k" --duree-s 180 --prefixe "g$k" \
      --sortie "$dossier/instantanes.jsonl" 2>/dev/null
    "$calibrage" convertir --sortie "$f" "$dossier/instantanes.jsonl" >/dev/null
    rm -f "$dossier/instantanes.jsonl"
  fi
  entrees+=("$f")
done
octets=$(cat "${entrees[@]}" | wc -c)
rapport=$dossier/rapport.json
"$calibrage" calibrer --cohorte bench --sortie "$rapport" "${entrees[@]}" >/dev/null 2>&1
echo "données : $dossier ($fichiers fichiers, $(awk -v o="$octets" 'BEGIN { printf "%.0f", o / 1e6 }') MB)"

for commande in "calibrer --cohorte bench" "controler --rapport $rapport"; do
  echo
  echo "== $commande : pilote --local 2 (A) contre un seul calibrage (B)"
  # Timing an error would say nothing: the two must agree first (the date of calibrer's report aside).
  # shellcheck disable=SC2086  # the command's words are meant to split
  if ! cmp -s <("$pilote" --local 2 --programme "$calibrage" $commande "${entrees[@]}" 2>&1 | grep -v genereLe) \
              <("$calibrage" $commande "${entrees[@]}" 2>&1 | grep -v genereLe); then
    echo "le pilote et calibrage ne donnent pas la même sortie pour : $commande" >&2
    exit 1
  fi
  # shellcheck disable=SC2086
  farm-bench -n "$runs" --timeout 3600 --vs "$calibrage $commande --sortie /dev/null ${entrees[*]}" -- \
    "$pilote" --local 2 --programme "$calibrage" $commande --sortie /dev/null "${entrees[@]}"
done

# Partials of the whole cohort: what each sample and each line costs, without the fixed part (header,
# source paths, counts, checksum).
partiels=$(mktemp -d)
trap 'rm -rf "$partiels"' EXIT
"$calibrage" calibrer --cohorte bench --partiel "$partiels/c" "${entrees[@]}" >/dev/null
"$calibrage" controler --partiel "$partiels/l" "${entrees[@]}" >/dev/null
echantillons=$("$calibrage" calibrer --cohorte bench --sortie /dev/null "${entrees[@]}" 2>&1 >/dev/null |
  sed -n 's/.* n=\([0-9]*\) .*/\1/p' | awk '{ s += $1 } END { print s }')
lignes=$("$calibrage" controler --sortie /dev/null "${entrees[@]}" 2>&1 >/dev/null | sed -n 's/^\([0-9]*\) match(s) analysés.*/\1/p')
sources=$(printf '%s' "${entrees[@]}" | wc -c)
fixe=$(( 24 + 8 + 8 * fichiers + sources + 4 ))
echo
awk -v t="$(stat -c %s "$partiels/c")" -v f="$fixe" -v n="$echantillons" \
  'BEGIN { printf "partiel de calibrer : %d octets, %d échantillons : %.3f octets par échantillon\n", t, n, (t - f - 17 - 32) / n }'
awk -v t="$(stat -c %s "$partiels/l")" -v f="$fixe" -v n="$lignes" \
  'BEGIN { printf "partiel de controler : %d octets, %d lignes : %.2f octets par ligne\n", t, n, (t - f - 1 - 40 - 8 - 8) / n }'
