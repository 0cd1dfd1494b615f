#!/usr/bin/env bash
# Runs the fuzz targets built by the fuzz preset, each for DUREE seconds, one after the other on one core,
# and prints per target its executions, their rate, the coverage reached (cov: edges, ft: features) and
# the corpus size. Each target works on a copy of its seeds in build/fuzz/corpus/<target> (kept from run
# to run, never written back unless ENRICHIR=1: then only the inputs that add coverage are merged into
# fuzz/corpus/<target>). A crash, an oracle failure, a sanitizer report, a leak, an input slower than
# 10 s or one using more than 2.5 GB fails the target: its input is left in build/fuzz/echecs/ and the
# script ends with status 1 once every target has run.
#
#   fuzz/lancer.sh [DUREE] [target…]       (make fuzz DUREE=600 CIBLES="telemetrie rapport")
#   build/fuzz/fuzz/fuzz_<target> build/fuzz/echecs/<target>-crash-…      replays one failure
set -euo pipefail

racine=$(cd "$(dirname "$0")/.." && pwd)
build=$racine/build/fuzz
duree=${1:-30}
shift || true
if [ $# -gt 0 ]; then
  cibles=("$@")
else
  mapfile -t cibles < "$build/fuzz/cibles.txt"
fi

# Reports with symbols (the suppression matches a function name), every undefined behaviour fatal.
if [ -x /usr/lib/llvm-16/bin/llvm-symbolizer ]; then
  export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-16/bin/llvm-symbolizer
fi
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$racine/fuzz/ubsan.supp"
export ASAN_OPTIONS="detect_leaks=1"
# The targets' own files (input files, spills) go there, removed whatever happens.
FUZZ_DOSSIER=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-lancer-XXXXXX")
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  rmdir "$FUZZ_DOSSIER"
  FUZZ_DOSSIER=$(mktemp -d /dev/shm/fuzz-lancer-XXXXXX)
fi
export FUZZ_DOSSIER
trap 'rm -rf "$FUZZ_DOSSIER"' EXIT

mkdir -p "$build/echecs" "$build/journaux"
printf '%-12s %12s %9s %7s %8s %8s  %s\n' cible executions "exec/s" cov ft corpus resultat
echecs=0
for cible in "${cibles[@]}"; do
  programme=$build/fuzz/fuzz_$cible
  if [ ! -x "$programme" ]; then
    echo "$cible : programme introuvable ($programme)" >&2
    echecs=$((echecs + 1))
    continue
  fi
  travail=$build/corpus/$cible
  mkdir -p "$travail"
  cp -n "$racine/fuzz/corpus/$cible"/* "$travail"/ 2>/dev/null || true
  # The chunked reader reads telemetry: the telemetry seeds are its seeds too.
  if [ "$cible" = traitement ]; then cp -n "$racine/fuzz/corpus/telemetrie"/* "$travail"/ 2>/dev/null || true; fi
  options=(-max_total_time="$duree" -print_final_stats=1 -timeout=10 -rss_limit_mb=2560
           -artifact_prefix="$build/echecs/$cible-")
  dictionnaire=$racine/fuzz/$cible.dict
  if [ "$cible" = traitement ]; then dictionnaire=$racine/fuzz/telemetrie.dict; fi
  if [ -f "$dictionnaire" ]; then options+=(-dict="$dictionnaire"); fi
  journal=$build/journaux/$cible.log
  statut=0
  "$programme" "${options[@]}" "$travail" > "$journal" 2>&1 || statut=$?

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$journal" | tail -1)
  vitesse=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$journal" | tail -1)
  derniere=$(grep -E '^#[0-9]+' "$journal" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<< "$derniere")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<< "$derniere")
  corpus=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<< "$derniere")
  resultat=ok
  if [ "$statut" -ne 0 ]; then
    resultat="ÉCHEC (statut $statut, journal $journal)"
    echecs=$((echecs + 1))
  fi
  printf '%-12s %12s %9s %7s %8s %8s  %s\n' "$cible" "${executions:-?}" "${vitesse:-?}" "${cov:-?}" "${ft:-?}" \
    "${corpus:-?}" "$resultat"
  if [ "$statut" -ne 0 ]; then
    # The report: the oracle or the sanitizer, and the input kept.
    grep -E -A30 '^ORACLE|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|SUMMARY' "$journal" | head -60 >&2 || true
    grep -E 'Test unit written to' "$journal" >&2 || true
  fi
  if [ "${ENRICHIR:-0}" = 1 ] && [ "$statut" -eq 0 ]; then
    "$programme" -merge=1 "$racine/fuzz/corpus/$cible" "$travail" > "$build/journaux/$cible-fusion.log" 2>&1
    echo "  fuzz/corpus/$cible : $(ls "$racine/fuzz/corpus/$cible" | wc -l) entrées"
  fi
done
exit $((echecs > 0 ? 1 : 0))
