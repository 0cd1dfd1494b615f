#!/usr/bin/env bash
# calibrer and controler split by file (`--partiel` per shard, then the merge of the partials), against one
# process on the same cohort, on this machine:
#   1. what a partial holds: bytes per sample (calibrer) and per line (controler), the fixed part aside;
#   2. the time to write the shards' partials one after the other, and to merge them, against one process
#      on all the files; and --partiel against the report on a single file (the cost of writing a partial);
#   3. peak resident memory of the merge against one process.
#
#   bench/partiels_calibrage.sh                       # 4 files of 250 MB in bench/donnees/, 3 runs each
#   RUNS=5 MO_FICHIER=250 FICHIERS=4 bench/partiels_calibrage.sh
#   NETTOYER=1 bench/partiels_calibrage.sh            # and remove the generated data afterwards
#
# Data, generated once by bench/generer_telemetrie with ids of real-world length: partiels-cohorte-<k>.jsonl,
# FICHIERS files of MO_FICHIER MB, different matches. Each shard here is one file.
set -euo pipefail

racine=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$racine/build/linux}
runs=${RUNS:-3}
donnees=${DONNEES:-$racine/bench/donnees}
mo_fichier=${MO_FICHIER:-250}
fichiers=${FICHIERS:-4}

cd "$racine"
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target calibrage generer_telemetrie >/dev/null
calibrage=$build/src/bin/calibrage/calibrage
generateur=$build/bench/generer_telemetrie

mkdir -p "$donnees"
cohorte=()
for k in $(seq "$fichiers"); do
  f=$donnees/partiels-cohorte-$k.jsonl
  [ -s "$f" ] || "$generateur" "$f" "$mo_fichier" --ids-longs --premier-match $((k * 10000)) >/dev/null
  cohorte+=("$f")
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; if [ -n "${NETTOYER:-}" ]; then rm -f "${cohorte[@]}"; fi' EXIT
rapport=$tmp/rapport.json
"$calibrage" calibrer --cohorte bench --sortie "$rapport" "${cohorte[0]}" 2>/dev/null >/dev/null

octets=$(stat -c %s "${cohorte[@]}" | awk '{ s += $1 } END { print s }')
echo "cohorte : $fichiers fichiers, $((octets / 1000000)) MB ; $(nproc) fils matériels"

# The partials of every shard, once, for their sizes.
for k in $(seq "$fichiers"); do
  "$calibrage" calibrer --partiel "$tmp/cal-$k.partiel" "${cohorte[k - 1]}" >/dev/null
  "$calibrage" controler --rapport "$rapport" --partiel "$tmp/ctl-$k.partiel" "${cohorte[k - 1]}" >/dev/null
done
echo "== octets des partiels"
/usr/bin/python3 - "$tmp" "$fichiers" <<'EOF'
import struct, sys
dossier, n = sys.argv[1], int(sys.argv[2])

class Curseur:
    def __init__(self, chemin):
        self.o, self.pos = open(chemin, "rb").read(), 24
    def u64(self):
        self.pos += 8
        return struct.unpack_from("<Q", self.o, self.pos - 8)[0]
    def sauter(self, n):
        self.pos += n
    def sources(self):
        for _ in range(self.u64()):
            self.sauter(self.u64())

echantillons = lignes = octets_lignes = total_cal = total_ctl = 0
for k in range(1, n + 1):
    c = Curseur(f"{dossier}/cal-{k}.partiel")
    total_cal += len(c.o)
    c.sources()
    c.sauter(16)
    assert c.o[c.pos] == 0, "calibration refusée"
    c.sauter(1)
    for _ in range(4):
        m = c.u64()
        echantillons += m
        c.sauter(8 * m)
    c = Curseur(f"{dossier}/ctl-{k}.partiel")
    total_ctl += len(c.o)
    c.sources()
    c.sauter(1 + 40 + 8)
    lignes += c.u64()
    octets_lignes += len(c.o) - 4 - c.pos
print(f"  calibrer : {echantillons} échantillons, {total_cal} octets en {n} partiels : "
      f"{total_cal / echantillons:.4f} octets par échantillon tout compris (8 pour la valeur)")
print(f"  controler : {lignes} lignes, {total_ctl} octets en {n} partiels : "
      f"{octets_lignes / lignes:.1f} octets par ligne, {total_ctl / lignes:.1f} tout compris")
EOF

# hyperfine's JSON -> one line per command (median, user+sys), then each ratio of medians named in $2..
resume() {
  /usr/bin/python3 - "$@" <<'EOF'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
for nom, x in r.items():
    print(f"  {nom:<26} médiane {x['median']:7.2f} s   processeur {x['user'] + x['system']:7.2f} s")
for paire in sys.argv[2:]:
    a, b = paire.split("/")
    print(f"  {a} / {b} (temps, médianes) : {r[a]['median'] / r[b]['median']:.3f}")
EOF
}

mesurer() {  # title, ratios..., then -- commands as "name=command"
  local titre=$1
  shift
  local ratios=()
  while [ "$1" != "--" ]; do ratios+=("$1"); shift; done
  shift
  local args=() commande
  for commande in "$@"; do args+=(-n "${commande%%=*}" "${commande#*=}"); done
  echo "== $titre"
  hyperfine --style none --warmup 1 --runs "$runs" --export-json "$tmp/h.json" "${args[@]}" >/dev/null
  resume "$tmp/h.json" "${ratios[@]}"
}

c="'$calibrage'"
entrees=$(printf "'%s' " "${cohorte[@]}")
partiels_cal=$(for k in $(seq "$fichiers"); do printf "'%s' " "$tmp/cal-$k.partiel"; done)
partiels_ctl=$(for k in $(seq "$fichiers"); do printf "'%s' " "$tmp/ctl-$k.partiel"; done)
ecrire_cal="for k in \$(seq $fichiers); do f=\$(ls '$donnees'/partiels-cohorte-\$k.jsonl); $c calibrer --partiel '$tmp'/w-\$k.partiel \"\$f\" >/dev/null; done"
ecrire_ctl="for k in \$(seq $fichiers); do f=\$(ls '$donnees'/partiels-cohorte-\$k.jsonl); $c controler --rapport '$rapport' --partiel '$tmp'/w-\$k.partiel \"\$f\" >/dev/null; done"

mesurer "calibrer" tranches/un_processus fusion/un_processus partiel_1_fichier/rapport_1_fichier -- \
  "un_processus=$c calibrer --cohorte bench --sortie /dev/null $entrees" \
  "tranches=$ecrire_cal" \
  "fusion=$c calibrer --cohorte bench --sortie /dev/null $partiels_cal" \
  "rapport_1_fichier=$c calibrer --cohorte bench --sortie /dev/null '${cohorte[0]}'" \
  "partiel_1_fichier=$c calibrer --partiel '$tmp/w.partiel' '${cohorte[0]}'"
mesurer "controler" tranches/un_processus fusion/un_processus -- \
  "un_processus=$c controler --rapport '$rapport' --sortie /dev/null $entrees" \
  "tranches=$ecrire_ctl" \
  "fusion=$c controler --rapport '$rapport' --sortie /dev/null $partiels_ctl"

echo "== mémoire de pointe (calibrer)"
pic() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
p_un=$(pic "$calibrage" calibrer --cohorte bench --sortie /dev/null "${cohorte[@]}")
p_fusion=$(pic "$calibrage" calibrer --cohorte bench --sortie /dev/null $(for k in $(seq "$fichiers"); do echo "$tmp/cal-$k.partiel"; done))
taille=$(stat -c %s "$tmp"/cal-*.partiel | awk '{ s += $1 } END { print s }')
awk -v a="$p_un" -v b="$p_fusion" -v t="$taille" 'BEGIN {
  printf "  un processus : %.0f Mo ; fusion : %.0f Mo, pour %.0f Mo de partiels\n", a * 1024 / 1e6, b * 1024 / 1e6, t / 1e6
}'
