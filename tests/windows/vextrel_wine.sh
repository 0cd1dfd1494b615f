#!/usr/bin/env bash
# The cross build under wine64: the Windows-only checks (test_windows_wine.exe), the two
# fatal cases of vextrel.exe's command line, a real window and Ctrl+C.
# Usage: vextrel_wine.sh [build directory]   (default: build/windows; VEXTREL_EXE overrides the program)
# Exit status 77 (skipped) when the programs or wine64 are missing.
set -uo pipefail
racine="$(cd "$(dirname "$0")/../.." && pwd)"
construction="${1:-$racine/build/windows}"
programme="${VEXTREL_EXE:-$construction/src/bin/vextrel/vextrel.exe}"
verifications="$construction/tests/windows/wine/test_windows_wine.exe"

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
# A crash must end the program, not start wine's debugger and wait.
export WINEDLLOVERRIDES="winedbg.exe=d"
# A prefix of its own: its wine server and desktop must be started with this script's display.
export WINEPREFIX="${WINEPREFIX:-$racine/build/wine-prefix-vextrel}"
mkdir -p "$(dirname "$WINEPREFIX")"
serveur="${wine%64}server"
[ -x "$serveur" ] || serveur="$(command -v wineserver || echo true)"

temp="$(mktemp -d)"
xvfb=""
bloc_notes=""
fin() {
  [ -n "$bloc_notes" ] && kill "$bloc_notes" 2>/dev/null && wait "$bloc_notes" 2>/dev/null
  # The prefix's server and desktop end before their display does.
  "$serveur" -w 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$temp"
}
trap fin EXIT
echecs=0

# A private X server when there is one, so that wine can show a real window (see the end).
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 8 -screen 0 1024x768x24 -nolisten tcp 8>"$temp/affichage" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do [ -s "$temp/affichage" ] && break; sleep 0.1; done
  if [ -s "$temp/affichage" ]; then
    export DISPLAY=":$(cat "$temp/affichage")"
  else
    kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; xvfb=""
  fi
fi
if [ -z "$xvfb" ]; then
  unset DISPLAY
fi

# A server still running from an earlier run would keep its old display.
"$serveur" -w 2>/dev/null
# The first run creates the prefix and talks about it on stderr: do it once, alone.
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
  fi
) 9>"$(dirname "$WINEPREFIX")/.wine-prefix.lock"

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
  if timeout 120 "$wine" "$verifications" </dev/null; then
    echo "ok test_windows_wine"
  else
    echo "ÉCHEC test_windows_wine"
    echecs=$((echecs + 1))
  fi
  # Diagnostics reach a pipe as the exact UTF-8 bytes, LF line ends.
  "$wine" "$verifications" erreur >/dev/null 2>"$temp/diagnostic" </dev/null
  printf '\tcodecapi GOP = Some(60)\ncodecapi SetValue(95F31B26-95A4-41AA-9303-246A7FC6EEF1, 60) refusé : é\n' >"$temp/diagnostic_attendu"
  if cmp -s "$temp/diagnostic" "$temp/diagnostic_attendu"; then
    echo "ok diagnostic_erreur_standard"
  else
    echo "ÉCHEC diagnostic_erreur_standard"; od -c "$temp/diagnostic" | head -5
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

# A real top-level window: wine's notepad on a private X server. The lookup, the session and
# its error path run for real; wine has no window-capture service, so the recording fails
# with the system's error and nothing is written.
if [ -n "$xvfb" ] && [ -f "$verifications" ]; then
  # Device, converter, encoder and capture set-up against wine's own D3D11, DXGI, Media
  # Foundation and runtime: they must fail cleanly where wine lacks the service.
  if timeout 120 "$wine" "$verifications" chaine >"$temp/chaine" 2>&1 </dev/null; then
    echo "ok chaine_de_traitement :"; tr -d '\r' <"$temp/chaine" | sed 's/^/    /'
  else
    echo "ÉCHEC chaine_de_traitement"; cat "$temp/chaine"
    echecs=$((echecs + 1))
  fi
fi

if [ -n "$xvfb" ]; then
  "$wine" notepad >/dev/null 2>&1 </dev/null &
  bloc_notes=$!
  trouve=0
  for _ in $(seq 60); do
    if "$wine" "$programme" notepad.exe 0 >/dev/null 2>&1 </dev/null; then trouve=1; break; fi
    sleep 0.5
  done
  if [ "$trouve" -eq 0 ]; then
    echo "ÉCHEC fenetre_reelle : la fenêtre du bloc-notes n'est pas trouvée"
    echecs=$((echecs + 1))
  else
    # Upper-case name, no wait: the summary comes at once, then nothing was written.
    "$wine" "$programme" NOTEPAD.EXE 0 'Z:\tmp\vextrel-wine-essai.mkv' >"$temp/sortie" 2>"$temp/erreur" </dev/null
    statut=$?
    if [ "$statut" -eq 0 ] && [ ! -s "$temp/erreur" ] &&
       grep -qxE 'fenêtre NOTEPAD\.EXE : hwnd -?[0-9]+' <(sed -n 1p "$temp/sortie") &&
       grep -qxE 'octets : 0 · durée 0s · erreur (None|Some\(".*"\))' <(sed -n 2p "$temp/sortie") &&
       [ "$(sed -n 3p "$temp/sortie")" = "fichier : None" ] && [ "$(wc -l <"$temp/sortie")" -eq 3 ] &&
       [ ! -e /tmp/vextrel-wine-essai.mkv ]; then
      echo "ok fenetre_reelle_sans_attente"
    else
      echo "ÉCHEC fenetre_reelle_sans_attente (statut $statut)"; cat "$temp/sortie" "$temp/erreur"
      echecs=$((echecs + 1))
    fi
    # Two seconds: the failure shows after the first one and ends the wait.
    "$wine" "$programme" notepad.exe 2 >"$temp/sortie" 2>"$temp/erreur" </dev/null
    statut=$?
    texte="$(sed -n 2p "$temp/sortie" | sed 's/^erreur : //')"
    if [ "$statut" -eq 0 ] && [ -n "$texte" ] && grep -qx 'erreur : .*' <(sed -n 2p "$temp/sortie") &&
       [ "$(sed -n 3p "$temp/sortie")" = "octets : 0 · durée 1s · erreur Some(\"$texte\")" ] &&
       [ "$(sed -n 4p "$temp/sortie")" = "fichier : None" ]; then
      echo "ok fenetre_reelle_erreur_enregistrement"
    else
      echo "ÉCHEC fenetre_reelle_erreur_enregistrement (statut $statut)"; cat "$temp/sortie" "$temp/erreur"
      echecs=$((echecs + 1))
    fi
    # Ctrl+C: wine hands a console process's SIGINT to its console handlers as CTRL_C_EVENT.
    # The ten-second wait ends at once, the summary is printed and the status is 0. The signal
    # goes only once the program has written its first line (its handler is then installed),
    # read from a file of its own: a line left by an earlier command would send it too early.
    rm -f "$temp/ctrl_c"
    "$wine" "$programme" notepad.exe 10 >"$temp/ctrl_c" 2>"$temp/erreur" </dev/null &
    enregistreur=$!
    for _ in $(seq 100); do grep -qs '^fenêtre' "$temp/ctrl_c" && break; sleep 0.1; done
    debut=$(date +%s%N)
    kill -INT "$enregistreur"
    wait "$enregistreur"
    statut=$?
    ms=$(( ($(date +%s%N) - debut) / 1000000 ))
    if [ "$statut" -eq 0 ] && [ "$ms" -lt 5000 ] && [ ! -s "$temp/erreur" ] &&
       grep -qxE 'octets : 0 · durée 0s · erreur (None|Some\(".*"\))' "$temp/ctrl_c" &&
       [ "$(tail -n 1 "$temp/ctrl_c")" = "fichier : None" ]; then
      echo "ok ctrl_c (fin en $ms ms)"
    else
      echo "ÉCHEC ctrl_c (statut $statut, $ms ms)"; cat "$temp/ctrl_c" "$temp/erreur"
      echecs=$((echecs + 1))
    fi
    cas sans_extension 101 "" "$introuvable" -- notepad
  fi
fi

[ "$echecs" -eq 0 ]
