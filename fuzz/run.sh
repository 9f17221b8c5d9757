#!/usr/bin/env bash
# Builds the fuzz targets, writes the seed corpus and runs each target for
# SECONDS (default 60). Exits non-zero on any crash, sanitizer report, leak
# or time-out; the input that caused it is left in build/fuzz/run/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

run=build/fuzz/run
rm -rf "$run/seeds" "$run/tmp"
mkdir -p "$run/seeds" "$run/tmp"
build/fuzz/bin/make_seeds "$run/seeds"

status=0
for target in fuzz_reader fuzz_extract fuzz_put; do
  corpus="$run/corpus-$target"
  mkdir -p "$corpus"
  log="$run/$target.log"
  echo "== $target for ${seconds}s"
  if TMPDIR="$PWD/$run/tmp" "build/fuzz/bin/$target" -max_total_time="$seconds" -timeout=10 \
      -artifact_prefix="$run/$target-" "$corpus" "$run/seeds" >"$log" 2>&1; then
    grep -E 'DONE|^Done' "$log" || true
    echo "corpus: $(ls "$corpus" | wc -l) inputs"
  else
    status=1
    echo "$target FAILED; last lines of $log:"
    grep -v '^warning: ' "$log" | tail -n 60
  fi
  rm -rf "$run/tmp"/*
done
exit "$status"
