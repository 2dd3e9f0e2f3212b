#!/usr/bin/env bash
# Peak resident memory of `orvelant-verify chain` on a valid chain of just under 256 MiB.
# Usage: bench/chain_memory.sh BUILD_DIR (with chain_bench and orvelant-verify built there).
set -euo pipefail
build=${1:-build/bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/chain_bench" --write-chain "$work" $((256 * 1024 * 1024 - 65536))
size=$(stat -c %s "$work/chain.jsonl")
/usr/bin/time -f '%M' -o "$work/rss" "$build/orvelant-verify" chain "$work/chain.jsonl" --key "$work/notary.pem" \
  | tail -1
rss_kib=$(cat "$work/rss")
echo "chain file $((size / 1048576)) MiB; peak resident $((rss_kib / 1024)) MiB;" \
  "file + 64 MiB = $(((size / 1024 + 65536) / 1024)) MiB"
