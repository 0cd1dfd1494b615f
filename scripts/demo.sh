#!/usr/bin/env bash
# The main job of calibrage, end to end, on generated data:
#   1. simulate a clean cohort, clean matches held out of the calibration, and one population per
#      cheating profile (generer_cohorte, world snapshots);
#   2. convert every population into telemetry frames (calibrage convertir);
#   3. calibrate the cohort's thresholds on the clean cohort (calibrage calibrer);
#   4. replay the held-out clean matches and each cheating population against the report
#      (calibrage controler --rapport) and print, per population, the share of players at REVIEW or above;
#   5. write the analyst's HTML report (outils/rapport-analyste): the calibration's distributions, each
#      population, and how well the score separates the held-out clean players from the three cheats.
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
matchs=${MATCHS:-40}        # calibration cohort; 30 or more keeps the volume warning away
reserves=${RESERVES:-40}    # held-out clean matches
tricheurs=${TRICHEURS:-20}   # matches per cheating profile
duree=${DUREE_S:-90}        # seconds per match
cohorte=${COHORTE:-"démo / souris / 64 Hz"}

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
# The same samples as a partial result, for the report's histograms.
"$calibrage" calibrer --cohorte "$cohorte" --partiel calibration.partiel calibration.jsonl >/dev/null

# One summary line from the calibrated control report and the one with the engine's defaults.
taux() {
  awk -F': ' -v nom="$1" '
    FNR == 1 { fichier++ }
    /"matchs":/ { gsub(/,/, "", $2); if (matchs[fichier] == "") matchs[fichier] = $2 }
    /"reviewOuPlus":/ { gsub(/,/, "", $2); review[fichier] = $2 }
    /"tauxReviewOuPlus":/ { gsub(/,/, "", $2); taux[fichier] = $2 }
    END {
      compte = sprintf("(%d / %d)", review[1], matchs[1])
      printf "  %-18s %5.1f %% à REVIEW ou plus %-11s   [seuils par défaut : %5.1f %%]\n",
        nom, taux[1] * 100, compte, taux[2] * 100
    }' "$2" "$3"
}

echo
echo "== calibrage controler --rapport rapport.json"
resume=()
for nom in propres-reserves snap trigger wallhack; do
  echo "-- $nom"
  messages=$("$calibrage" controler --rapport rapport.json --sortie "controle-$nom.json" "$nom.jsonl" 2>&1 >/dev/null)
  printf '%s\n' "$messages" | sed -n '1,5p'
  "$calibrage" controler --sortie "defaut-$nom.json" "$nom.jsonl" >/dev/null 2>&1
  resume+=("$(taux "$nom" "controle-$nom.json" "defaut-$nom.json")")
done

echo
echo "== part des joueurs à REVIEW ou plus, seuils de la calibration « $cohorte »"
printf '%s\n' "${resume[@]}"
echo "(rapports dans $dossier)"

echo
echo "== rapport d'analyse"
analyste=("$racine/outils/rapport-analyste" --sortie "$dossier/rapport-analyste.html"
  --calibration rapport.json --echantillons calibration.partiel --propres "propres-reserves=controle-propres-reserves.json")
for nom in snap trigger wallhack; do
  analyste+=(--tricheurs "$nom=controle-$nom.json")
done
"${analyste[@]}" --json "$dossier/separation.json"
