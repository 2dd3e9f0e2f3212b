#!/usr/bin/env bash
# Runs fuzz targets, each for SECONDS, starting from the committed seeds (fuzz/seeds), the kept
# corpus (fuzz/corpus) and the test fixtures; any finding fails the run.
#
# Usage: fuzz/run.sh short|long BUILD_DIR SECONDS JOBS TARGET...
#   short  works on a scratch corpus under BUILD_DIR and keeps nothing.
#   long   then merges the inputs that reached new coverage into fuzz/corpus/TARGET and prints
#          one summary row per target (executions, rate, coverage, corpus size).
# JOBS targets run at a time. Targets whose inputs grow out of the shared folder's real Intel
# material keep their corpus under BUILD_DIR only: third-party data is never committed.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=$1 build=$2 seconds=$3 jobs=$4
shift 4
shared=../shared
third_party_targets=" fuzz_quote_verify fuzz_dcap_collateral fuzz_level2 fuzz_key_chain fuzz_attested_record "
export mode build seconds shared third_party_targets

# The Level 2 target starts from a whole evaluation around the real quote, split at NUL bytes.
if [ -d "$shared/testdata/tdx-real" ]; then
  python3 examples/real-tdx/make_inputs.py "$shared" "$build/real-tdx" >/dev/null
fi

run_target() {
  local t=$1
  local corpus=$build/corpus-$t
  mkdir -p "$corpus"
  for dir in fuzz/seeds/$t fuzz/corpus/$t; do
    if [ -d "$dir" ]; then cp -n "$dir"/* "$corpus"/ 2>/dev/null || true; fi
  done
  case $t in
    fuzz_receipt | fuzz_lab_receipt | fuzz_refusal) cp -n examples/*.json tests/data/live/*.json "$corpus"/ ;;
  esac
  if [ "$t" = fuzz_level2 ] && [ -d "$build/real-tdx" ]; then
    (cd "$build/real-tdx" && cat receipt.json && printf '\0' && cat live-key.hex && printf '\0' &&
      cat snapshot.json && printf '\0' && cat expected-td.json) >"$corpus/real-quote"
  fi

  local log=$build/$t.log
  rm -f "$build/$t.summary"
  # pointer-overflow reports come only from RapidJSON (see fuzz/ubsan.supp); a 30 s input is a finding.
  if ! UBSAN_OPTIONS=suppressions=fuzz/ubsan.supp:halt_on_error=1:print_stacktrace=1 \
    "$build/$t" -max_total_time="$seconds" -max_len=65536 -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$build/$t-" "$corpus" 2>"$log"; then
    echo "FINDING in $t (log: $log)"
    tail -40 "$log"
    return 1
  fi

  if [ "$mode" = long ] && [[ $third_party_targets != *" $t "* ]]; then
    mkdir -p "fuzz/corpus/$t"
    "$build/$t" -merge=1 "fuzz/corpus/$t" "$corpus" 2>"$build/$t.merge.log"
  fi
  local runs rate cov ft
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  printf '| %s | %s | %s | %s | %s | %s |\n' "$t" "$runs" "$rate" "${cov:-0}" "${ft:-0}" \
    "$(find "$corpus" -type f | wc -l)" >"$build/$t.summary"
  echo "done: $t for $seconds s: $runs executions, cov $cov, ft $ft"
}
export -f run_target

status=0
printf '%s\n' "$@" | xargs -P "$jobs" -I{} bash -c 'run_target {}' || status=1

if [ "$mode" = long ]; then
  echo
  echo "| target | executions | per second | coverage (edges) | features | corpus |"
  echo "|---|---:|---:|---:|---:|---:|"
  for t in "$@"; do cat "$build/$t.summary" 2>/dev/null || echo "| $t | (no figures) | | | | |"; done
fi
exit $status
