#!/usr/bin/env bash
# calibrer and controler at the size of real cohorts: threads, memory and spills.
#
#   bench/echelle_calibrage.sh                 # 3 runs each; data in bench/donnees/
#   RUNS=5 REFERENCE=/path/to/calibrage bench/echelle_calibrage.sh
#   NETTOYER=1 bench/echelle_calibrage.sh      # and remove the generated data afterwards
#
# Data, generated once by bench/generer_telemetrie with ids of real-world length (check `df -h` first:
# about 4.5 GB with the defaults):
#   echelle-cohorte-{1..4}.jsonl   four files of MO_FICHIER MB (300), different matches
#   echelle-unique.jsonl           one file of MO_UNIQUE MB (1100)
#   echelle-grand.jsonl            one file of MO_GRAND MB (2200), for the 512 MiB budget
# What is measured, each group in one hyperfine call so its ratios come from one run:
#   1. controler and calibrer, default threads against CALIBRAGE_FILS=1, on the cohort and on the file;
#   2. CALIBRAGE_FILS=1 against the bare SAX pass (bench/passe_sax_nue), and against REFERENCE, another
#      build of calibrage (e.g. the main branch built in a second build directory), when given;
#   3. peak resident memory (GNU time) of controler without a budget: per frame of the input, and per
#      frame held (the growth from the 1.1 GB file to the 2.2 GB one, over the frames added);
#   4. controler on the 2.2 GB file within CALIBRAGE_MEMOIRE=512 and within BUDGET_DEBORDEMENT MiB (128,
#      where it spills): peak memory, whether it spilled, and the time of the spilled run against none.
set -euo pipefail

racine=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$racine/build/linux}
runs=${RUNS:-3}
donnees=${DONNEES:-$racine/bench/donnees}
mo_fichier=${MO_FICHIER:-300}
mo_unique=${MO_UNIQUE:-1100}
mo_grand=${MO_GRAND:-2200}
budget_petit=${BUDGET_DEBORDEMENT:-128}  # MiB: small enough for the large file to spill

cd "$racine"
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target calibrage passe_sax_nue generer_telemetrie >/dev/null
calibrage=$build/src/bin/calibrage/calibrage
sax=$build/bench/passe_sax_nue
generateur=$build/bench/generer_telemetrie

mkdir -p "$donnees"
cohorte=()
for k in 1 2 3 4; do
  f=$donnees/echelle-cohorte-$k.jsonl
  [ -s "$f" ] || "$generateur" "$f" "$mo_fichier" --ids-longs --premier-match $((k * 10000))
  cohorte+=("$f")
done
unique=$donnees/echelle-unique.jsonl
grand=$donnees/echelle-grand.jsonl
[ -s "$unique" ] || "$generateur" "$unique" "$mo_unique" --ids-longs
[ -s "$grand" ] || "$generateur" "$grand" "$mo_grand" --ids-longs
rapport=$donnees/echelle-rapport.json
"$calibrage" calibrer --cohorte bench --sortie "$rapport" "$unique" >/dev/null 2>&1

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"; if [ -n "${NETTOYER:-}" ]; then rm -f "${cohorte[@]}" "$unique" "$grand" "$rapport"; fi' EXIT

octets() { stat -c %s "$@" | awk '{ s += $1 } END { print s }'; }
trames() { cat "$@" | wc -l; }

# hyperfine's JSON -> one line per command (median, user+sys), then each ratio of medians named in $2..
resume() {
  /usr/bin/python3 - "$@" <<'EOF'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
mo = float(sys.argv[2]) / 1e6
for nom, x in r.items():
    cpu = x["user"] + x["system"]
    print(f"  {nom:<28} médiane {x['median']:7.2f} s ({mo / x['median']:6.1f} MB/s)   processeur {cpu:7.2f} s")
for paire in sys.argv[3:]:
    a, b = paire.split("/")
    print(f"  {a} / {b} (débit, médianes) : {r[b]['median'] / r[a]['median']:.2f}")
EOF
}

mesurer() {  # name, bytes, ratios..., then -- commands as "name=command"
  local titre=$1 total=$2
  shift 2
  local ratios=()
  while [ "$1" != "--" ]; do ratios+=("$1"); shift; done
  shift
  local args=() commande
  for commande in "$@"; do args+=(-n "${commande%%=*}" "${commande#*=}"); done
  echo "== $titre"
  hyperfine --style none --warmup 1 --runs "$runs" --export-json "$tmp/h.json" "${args[@]}" >/dev/null
  resume "$tmp/h.json" "$total" "${ratios[@]}"
}

c="'$calibrage'"
octets_cohorte=$(octets "${cohorte[@]}")
octets_unique=$(octets "$unique")
fichiers_cohorte=$(printf "'%s' " "${cohorte[@]}")
echo "cohorte : ${#cohorte[@]} fichiers, $((octets_cohorte / 1000000)) MB ; fichier unique : $((octets_unique / 1000000)) MB ;" \
  "$(nproc) fils matériels"

for donnee in cohorte unique; do
  if [ $donnee = cohorte ]; then entrees=$fichiers_cohorte; total=$octets_cohorte; else entrees="'$unique'"; total=$octets_unique; fi
  mesurer "fils ($donnee)" "$total" controler/controler_1fil calibrer/calibrer_1fil -- \
    "controler=$c controler --rapport '$rapport' --sortie /dev/null $entrees" \
    "controler_1fil=CALIBRAGE_FILS=1 $c controler --rapport '$rapport' --sortie /dev/null $entrees" \
    "calibrer=$c calibrer --cohorte bench --sortie /dev/null $entrees" \
    "calibrer_1fil=CALIBRAGE_FILS=1 $c calibrer --cohorte bench --sortie /dev/null $entrees"
done

commandes=("controler_1fil=CALIBRAGE_FILS=1 $c controler --sortie /dev/null '$unique'" "passe_sax_nue='$sax' '$unique'")
ratios=(controler_1fil/passe_sax_nue)
if [ -n "${REFERENCE:-}" ]; then
  commandes+=("reference='$REFERENCE' controler --sortie /dev/null '$unique'")
  ratios+=(controler_1fil/reference)
fi
mesurer "un fil (fichier unique)" "$octets_unique" "${ratios[@]}" -- "${commandes[@]}"

echo "== mémoire de pointe (controler, fils par défaut, sans budget)"
pic() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
n_unique=$(trames "$unique")
n_grand=$(trames "$grand")
p_unique=$(pic env -u CALIBRAGE_MEMOIRE "$calibrage" controler "$unique")
p_grand=$(pic env -u CALIBRAGE_MEMOIRE "$calibrage" controler "$grand")
awk -v p1="$p_unique" -v p2="$p_grand" -v n1="$n_unique" -v n2="$n_grand" 'BEGIN {
  printf "  %d trames : pic %.0f Mo, %.1f octets par trame\n", n1, p1 * 1024 / 1e6, p1 * 1024 / n1
  printf "  %d trames : pic %.0f Mo, %.1f octets par trame\n", n2, p2 * 1024 / 1e6, p2 * 1024 / n2
  printf "  par trame tenue (croissance du pic sur les trames ajoutées) : %.1f octets\n", (p2 - p1) * 1024 / (n2 - n1)
}'

# Whether a run spills: with a temporary directory that does not exist, a spill is an error.
deborde() { if env TMPDIR=/nonexistent "$@" >/dev/null 2>&1; then echo non; else echo oui; fi; }
echo "== controler sur le fichier de $mo_grand Mo dans un budget (fils par défaut)"
for budget in 512 "$budget_petit"; do
  p=$(pic env CALIBRAGE_MEMOIRE=$budget TMPDIR="$tmp" "$calibrage" controler "$grand")
  d=$(deborde env CALIBRAGE_MEMOIRE=$budget "$calibrage" controler "$grand")
  awk -v p="$p" -v b="$budget" -v d="$d" 'BEGIN { printf "  CALIBRAGE_MEMOIRE=%s : pic %.0f Mo (%.0f Mio), débordement : %s\n", b, p * 1024 / 1e6, p / 1024, d }'
done
mesurer "débordement (fichier de $mo_grand Mo)" "$(octets "$grand")" controler_$budget_petit/controler_libre -- \
  "controler_libre=$c controler --sortie /dev/null '$grand'" \
  "controler_$budget_petit=CALIBRAGE_MEMOIRE=$budget_petit TMPDIR='$tmp' $c controler --sortie /dev/null '$grand'"
