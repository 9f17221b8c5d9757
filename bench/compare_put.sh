#!/usr/bin/env bash
# Times d88put's rows of run.sh (unchanged, changed, grow-last, grow-S101)
# for two builds in one run, each run of either build followed by a run of
# the floor (reading the tree, a durable copy of the image), and prints each
# build's median against the floor's median of the same row, with the peak
# memory over the empty program.
#
#   bench/compare_put.sh BEFORE_BIN AFTER_BIN [RUNS]   (RUNS default 11)
#
# BENCH_DIR puts the images and trees elsewhere, e.g. on a tmpfs. Both
# folders need d88put, d88extract, make_full and bench_empty.
set -euo pipefail
before="$1"
after="$2"
runs="${3:-11}"
disks=64
work="${BENCH_DIR:-$PWD/build/bench-put}"
rm -rf "$work"
mkdir -p "$work"
"$after/make_full" "$work/full.d88" "$disks"

source "$(dirname "$0")/timing.sh"
timed() {
  timed_in "$work" "$@"
}

tree="$work/tree"
extract_tree() {
  rm -rf "$tree"
  mkdir "$tree"
  (cd "$tree" && "$after/d88extract" "$work/full.d88" -a >/dev/null)
}
floor='tar -cf - -C "$1" . | cat >/dev/null && cp "$2" "$3" && sync'

empty=()
for ((i = 0; i < runs; i++)); do
  timed "$after/bench_empty"
  empty+=("$rss")
done
empty_rss=$(printf '%s\n' "${empty[@]}" | median_of)

echo "| row | build | d88put s | floor s | ratio | peak - empty KiB |"
echo "|---|---|---|---|---|---|"
for change in unchanged changed grow-last grow-S101; do
  extract_tree
  args=()
  if [[ "$change" == changed ]]; then
    for folder in "$tree"/*/; do
      file=$(find "$folder" -type f | sort | tail -n 1)
      printf 'X' | dd of="$file" bs=1 seek=0 conv=notrunc status=none
    done
  elif [[ "$change" == grow-* ]]; then
    for folder in "$tree"/*/; do
      if [[ "$change" == grow-last ]]; then
        file=$(find "$folder" -type f -name 'S1*' | sort | tail -n 1)
      else
        file="$folder/S101"
      fi
      head -c 256 /dev/zero | tr '\0' '#' >>"$file"
    done
    args=(--resize)
  fi
  declare -A times=() peaks=() floors=()
  # A warm-up of each, then the runs, the builds alternating.
  for ((i = 0; i <= runs; i++)); do
    for build in before after; do
      bin=$before
      [[ $build == after ]] && bin=$after
      cp "$work/full.d88" "$work/put.d88"
      timed "$bin/d88put" "$work/put.d88" "$tree" "${args[@]}"
      if ((i > 0)); then
        times[$build]+="$took "
        peaks[$build]+="$rss "
      fi
      timed bash -c "$floor" floor "$tree" "$work/full.d88" "$work/floor.d88"
      if ((i > 0)); then
        floors[$build]+="$took "
      fi
    done
  done
  for build in before after; do
    t=$(printf '%s\n' ${times[$build]} | median_of)
    f=$(printf '%s\n' ${floors[$build]} | median_of)
    p=$(printf '%s\n' ${peaks[$build]} | median_of)
    awk -v c="$change" -v b="$build" -v t="$t" -v f="$f" -v p="$p" -v e="$empty_rss" \
      'BEGIN {printf "| %s | %s | %.4f | %.4f | %.2f | %d |\n", c, b, t / 1e6, f / 1e6, t / f, p - e}'
  done
done
echo
echo "runs: $runs per row and build, each followed by a floor run; empty program peak: $empty_rss KiB"
