#!/usr/bin/env bash
# The cross build under wine64: the Windows-only checks (windows_wine_test.exe) and the two
# fatal cases of vextrel.exe's command line.
# Usage: vextrel_wine.sh [build directory]   (default: build/windows; VEXTREL_EXE overrides the program)
# Exit status 77 (skipped) when the programs or wine64 are missing.
set -uo pipefail
racine="$(cd "$(dirname "$0")/../.." && pwd)"
construction="${1:-$racine/build/windows}"
programme="${VEXTREL_EXE:-$construction/src/bin/vextrel/vextrel.exe}"
verifications="$construction/tests/windows/wine/windows_wine_test.exe"

wine="$(command -v wine64 || true)"
if [ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
fi
if [ -z "$wine" ]; then
  echo "wine64 absent : test ignoré" >&2
  exit 77
fi
if [ ! -f "$programme" ] && [ ! -f "$verifications" ]; then
  echo "$construction : programmes absents (make windows) : test ignoré" >&2
  exit 77
fi

export WINEDEBUG=-all
# Wine maps the Unix arguments to UTF-16 through the locale: make it UTF-8 whatever the caller has.
export LC_ALL=C.UTF-8
export WINEPREFIX="${WINEPREFIX:-$racine/build/wine-prefix}"
mkdir -p "$(dirname "$WINEPREFIX")"
# The first run creates the prefix and talks about it on stderr: do it once, alone.
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
    "${wine%64}server" -w 2>/dev/null || wineserver -w 2>/dev/null || true
  fi
) 9>"$(dirname "$WINEPREFIX")/.wine-prefix.lock"

temp="$(mktemp -d)"
trap 'rm -rf "$temp"' EXIT
echecs=0

# cas <name> <expected status> <expected stdout> <expected stderr> -- <arguments...>
cas() {
  local nom="$1" statut_attendu="$2" sortie_attendue="$3" erreur_attendue="$4"
  shift 5
  "$wine" "$programme" "$@" >"$temp/sortie" 2>"$temp/erreur" </dev/null
  local statut=$?
  printf '%s' "$sortie_attendue" >"$temp/sortie_attendue"
  printf '%s' "$erreur_attendue" >"$temp/erreur_attendue"
  if [ "$statut" -ne "$statut_attendu" ] || ! cmp -s "$temp/sortie" "$temp/sortie_attendue" ||
     ! cmp -s "$temp/erreur" "$temp/erreur_attendue"; then
    echo "ÉCHEC $nom : statut $statut (attendu $statut_attendu)"
    echo "--- sortie :"; od -c "$temp/sortie" | head -5
    echo "--- erreurs :"; od -c "$temp/erreur" | head -5
    echecs=$((echecs + 1))
  else
    echo "ok $nom"
  fi
}

if [ -f "$verifications" ]; then
  if "$wine" "$verifications" </dev/null; then
    echo "ok windows_wine_test"
  else
    echo "ÉCHEC windows_wine_test"
    echecs=$((echecs + 1))
  fi
  # Arguments arrive as UTF-8 from the UTF-16 command line; lines end with LF alone.
  "$wine" "$verifications" arguments "été.exe" "a b" "" 'C:\dossier\x.mkv' >"$temp/arguments" 2>/dev/null </dev/null
  printf 'été.exe\na b\n\nC:\\dossier\\x.mkv\n' >"$temp/arguments_attendus"
  if cmp -s "$temp/arguments" "$temp/arguments_attendus"; then
    echo "ok arguments_utf8"
  else
    echo "ÉCHEC arguments_utf8"; od -c "$temp/arguments" | head -5
    echecs=$((echecs + 1))
  fi
fi

usage=$'usage: vextrel <processus.exe> [secondes] [chemin.mkv]\n'
introuvable=$'fenêtre du processus introuvable\n'

if [ ! -f "$programme" ]; then
  echo "$programme absent : cas de la ligne de commande ignorés" >&2
  [ "$echecs" -eq 0 ] && exit 77
  exit 1
fi

cas sans_argument 101 "" "$usage" --
cas processus_inconnu 101 "" "$introuvable" -- processus-inexistant-7d1c.exe
cas processus_inconnu_avec_options 101 "" "$introuvable" -- processus-inexistant-7d1c.exe 0 "$temp/x.mkv"
cas nom_vide 101 "" "$introuvable" -- ""
# No session was started, so no file was created.
if [ -e "$temp/x.mkv" ]; then
  echo "ÉCHEC : un fichier a été créé sans fenêtre"
  echecs=$((echecs + 1))
fi

[ "$echecs" -eq 0 ]
