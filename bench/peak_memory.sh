#!/usr/bin/env bash
# Peak resident memory of orvelant-verify on the largest inputs it reads whole: a valid chain of
# just under 256 MiB, judged for the text and for the JSON report (which lists every entry), and
# a valid key-receipt history of just under 64 MiB (its links and quote bindings; Level 2 needs
# the test Intel root, which the binary does not trust).
# Usage: bench/peak_memory.sh BUILD_DIR (with chain_bench, key_chain_bench and orvelant-verify built).
set -euo pipefail
build=${1:-build/bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs the verifier on FILE with the remaining arguments and prints one line of figures.
report_peak() {
  local what=$1 file=$2 slack_mib=$3
  shift 3
  /usr/bin/time -f '%M' -o "$work/rss" "$build/orvelant-verify" "$@" | { grep '^RESULT' || true; }
  local size rss_kib
  size=$(stat -c %s "$file")
  rss_kib=$(cat "$work/rss")
  echo "$what $((size / 1048576)) MiB; peak resident $((rss_kib / 1024)) MiB;" \
    "file + $slack_mib MiB = $(((size / 1024 + slack_mib * 1024) / 1024)) MiB"
}

"$build/chain_bench" --write-chain "$work" $((256 * 1024 * 1024 - 65536))
report_peak "chain file" "$work/chain.jsonl" 64 chain "$work/chain.jsonl" --key "$work/notary.pem"
report_peak "chain file, --json," "$work/chain.jsonl" 192 chain "$work/chain.jsonl" --key "$work/notary.pem" --json

"$build/key_chain_bench" --write-history "$work" $((64 * 1024 * 1024))
report_peak "history file" "$work/history.jsonl" 64 key-chain "$work/history.jsonl"
