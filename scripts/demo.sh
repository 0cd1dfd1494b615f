#!/usr/bin/env bash
# The main job of calibrage, end to end, on generated data:
#   1. simulate a clean cohort, clean matches held out of the calibration, and one population per
#      cheating profile (generer_cohorte, world snapshots);
#   2. convert every population into telemetry frames (calibrage convertir);
#   3. calibrate the cohort's thresholds on the clean cohort (calibrage calibrer);
#   4. replay the held-out clean matches and each cheating population against the report
#      (calibrage controler --rapport) and print, per population, the share of players at REVIEW or above.
# Clean players should stay near 0 %; cheaters should not.
#
#   scripts/demo.sh            # after `cmake --build --preset linux --target calibrage generer_cohorte`
#   MATCHS=40 DUREE_S=90 scripts/demo.sh
set -euo pipefail

racine=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$racine/build/linux}
calibrage=${CALIBRAGE:-$build/src/bin/calibrage/calibrage}
generer=${GENERER_COHORTE:-$build/outils/generer_cohorte}
dossier=${DOSSIER:-$build/demo}
matchs=${MATCHS:-32}        # calibration cohort; 30 or more keeps the volume warning away
reserves=${RESERVES:-16}    # held-out clean matches
tricheurs=${TRICHEURS:-8}   # matches per cheating profile
duree=${DUREE_S:-60}        # seconds per match
cohorte=${COHORTE:-"démo / souris / 128 Hz"}

for programme in "$calibrage" "$generer"; do
  if [ ! -x "$programme" ]; then
    echo "programme introuvable : $programme (make demo le construit)" >&2
    exit 1
  fi
done
mkdir -p "$dossier"
cd "$dossier"

# One population: snapshots generated, converted, then dropped (they are several times larger).
population() {
  local nom=$1 profil=$2 nombre=$3 graine=$4
  "$generer" --profil "$profil" --matchs "$nombre" --graine "$graine" --duree-s "$duree" \
    --prefixe "$nom" --sortie "$nom-instantanes.jsonl" 2>/dev/null
  "$calibrage" convertir --sortie "$nom.jsonl" "$nom-instantanes.jsonl" 2>/dev/null
  rm -f "$nom-instantanes.jsonl"
}

echo "== génération et conversion ($matchs + $reserves matchs propres, $tricheurs par profil de triche, $duree s chacun)"
population calibration humain "$matchs" 1
population propres-reserves humain "$reserves" 2
population snap snap "$tricheurs" 3
population trigger trigger "$tricheurs" 4
population wallhack wallhack "$tricheurs" 5

echo
echo "== calibrage calibrer"
"$calibrage" calibrer --cohorte "$cohorte" --sortie rapport.json calibration.jsonl

# "tauxReviewOuPlus" and the counts, from the control report.
taux() {
  awk -F': ' -v nom="$1" '
    /"matchs":/ { gsub(/,/, "", $2); if (matchs == "") matchs = $2 }
    /"reviewOuPlus":/ { gsub(/,/, "", $2); review = $2 }
    /"tauxReviewOuPlus":/ { gsub(/,/, "", $2); taux = $2 }
    END { printf "  %-26s %5.1f %% à REVIEW ou plus (%d / %d)\n", nom, taux * 100, review, matchs }' "$2"
}

echo
echo "== calibrage controler --rapport rapport.json"
resume=()
for nom in propres-reserves snap trigger wallhack; do
  echo "-- $nom"
  messages=$("$calibrage" controler --rapport rapport.json --sortie "controle-$nom.json" "$nom.jsonl" 2>&1 >/dev/null)
  printf '%s\n' "$messages" | sed -n '1,5p'
  resume+=("$(taux "$nom" "controle-$nom.json")")
done

echo
echo "== part des joueurs à REVIEW ou plus, seuils de la calibration « $cohorte »"
printf '%s\n' "${resume[@]}"
echo "(rapports dans $dossier)"
