#!/usr/bin/env bash
# Times d88extract -a on two workloads against the floor of extracting the
# same tree with tar, and measures peak resident memory against an empty
# program built the same way; then d88info and d88put on the same image, and
# d88info's catalogue of a tree of D88 files. Prints Markdown tables.
#
#   bench/run.sh           64 disks, 2,000 files, median of 5 runs after a warm-up
#   bench/run.sh --quick   4 disks, 40 files, one run: checks that the bench works
set -euo pipefail
cd "$(dirname "$0")/.."

disks=64
runs=5
collection_files=2000
if [[ "${1:-}" == "--quick" ]]; then
  disks=4
  runs=1
  collection_files=40
fi
source bench/timing.sh

cmake --preset release >/dev/null
cmake --build --preset release --target d88extract d88info d88put make_full make_crafted make_collection bench_empty bench_command_line >/dev/null
bin="$PWD/build/release/bin"
# BENCH_DIR puts the images and output elsewhere, e.g. on a tmpfs.
work="${BENCH_DIR:-$PWD/build/bench}"
rm -rf "$work"
mkdir -p "$work"
"$bin/make_full" "$work/full.d88" "$disks"
"$bin/make_crafted" "$work/crafted.d88"

# measure COMMAND...: runs COMMAND in a fresh folder $work/out, once to warm
# up and then $runs times; sets $median (seconds) and $peak (KiB), both the
# median over the runs (peak memory varies by some 100 KiB from run to run).
# $before_each, when set, is run before each run, untimed.
measure() {
  local times=() peaks=() i
  for ((i = 0; i <= runs; i++)); do
    rm -rf "$work/out"
    mkdir "$work/out"
    if [[ -n "${before_each:-}" ]]; then
      "$before_each"
    fi
    timed_in "$work/out" "$@"
    if ((i > 0)); then
      times+=("$took")
      peaks+=("$rss")
    fi
  done
  median=$(printf '%s\n' "${times[@]}" | median_of | awk '{printf "%.4f", $1 / 1e6}')
  peak=$(printf '%s\n' "${peaks[@]}" | median_of | awk '{printf "%d", $1}')
}

measure "$bin/bench_empty"
empty_rss=$peak

echo "| workload | files | output bytes | d88extract s | tar -xf s | ratio | d88extract peak KiB | tar peak KiB | d88extract peak - empty KiB |"
echo "|---|---|---|---|---|---|---|---|---|"
declare -A per_byte
for workload in full crafted; do
  measure "$bin/d88extract" "$work/$workload.d88" -a
  tool_time=$median tool_rss=$peak
  # The floor: the very tree d88extract wrote, unpacked by tar.
  tar -cf "$work/$workload.tar" -C "$work/out" .
  files=$(find "$work/out" -type f | wc -l)
  bytes=$(find "$work/out" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
  measure tar -xf "$work/$workload.tar"
  ratio=$(awk -v a="$tool_time" -v b="$median" 'BEGIN {printf "%.2f", a / b}')
  per_byte[$workload]=$(awk -v t="$tool_time" -v b="$bytes" 'BEGIN {printf "%.6e", t / b}')
  echo "| $workload | $files | $bytes | $tool_time | $median | $ratio | $tool_rss | $peak | $((tool_rss - empty_rss)) |"
done

# d88info on the full workload against d88extract -a on the same image, in
# the same run: the listing reads every record and every file's chain, as the
# extraction does, and writes text or JSON to /dev/null instead of files.
echo
echo "| listing of full | d88info s | d88extract -a s | ratio | d88info peak KiB | d88info peak - empty KiB |"
echo "|---|---|---|---|---|---|"
measure "$bin/d88extract" "$work/full.d88" -a
extract_time=$median
for format in text json; do
  args=("$work/full.d88")
  [[ "$format" == json ]] && args=(--json "${args[@]}")
  measure "$bin/d88info" "${args[@]}"
  ratio=$(awk -v a="$median" -v b="$extract_time" 'BEGIN {printf "%.2f", a / b}')
  echo "| d88info $([[ $format == json ]] && echo "--json" || echo "(text)") | $median | $extract_time | $ratio | $peak | $((peak - empty_rss)) |"
done

# d88put over the full extraction, unchanged, with one changed file in every
# disk and with one file of another size in every disk, against the floor of reading the same tree and copying the
# image durably. Each run starts from a fresh copy of the image (not timed).
echo
echo "| put back into full | d88put s | floor s | ratio | d88put peak KiB | d88put peak - empty KiB |"
echo "|---|---|---|---|---|---|"
tree="$work/tree"
rm -rf "$tree"
mkdir "$tree"
(cd "$tree" && "$bin/d88extract" "$work/full.d88" -a >/dev/null)
# Each run of d88put starts from a fresh copy of the image.
fresh_image() {
  cp "$work/full.d88" "$work/put.d88"
}
# The floor: reading every file of the tree, then a durable copy of the image.
# The paths go in as arguments, whatever characters they hold.
floor='tar -cf - -C "$1" . | cat >/dev/null && cp "$2" "$3" && sync'
floor_paths=("$tree" "$work/full.d88" "$work/floor.d88")
# With --resize: the second table's last file of every disk grown by 256
# bytes into the blank bytes after it, or its first file that may change
# size (S101), so that the whole table moves (about 185 KB a disk).
# The floor of d88put's memory: its command line parsed by CLI11 with the
# static C++ runtime, and nothing read.
measure "$bin/bench_command_line" image folder --resize
echo "| command line only | $median | | | $peak | $((peak - empty_rss)) |"
for change in unchanged changed grow-last grow-S101; do
  put_args=()
  if [[ "$change" == changed ]]; then
    for folder in "$tree"/*/; do
      file=$(find "$folder" -type f | sort | tail -n 1)
      printf 'X' | dd of="$file" bs=1 seek=0 conv=notrunc status=none
    done
  elif [[ "$change" == grow-* ]]; then
    rm -rf "$tree"
    mkdir "$tree"
    (cd "$tree" && "$bin/d88extract" "$work/full.d88" -a >/dev/null)
    for folder in "$tree"/*/; do
      if [[ "$change" == grow-last ]]; then
        file=$(find "$folder" -type f -name 'S1*' | sort | tail -n 1)
      else
        file="$folder/S101"
      fi
      head -c 256 /dev/zero | tr '\0' '#' >>"$file"
    done
    put_args=(--resize)
  fi
  before_each=fresh_image measure "$bin/d88put" "$work/put.d88" "$tree" "${put_args[@]}"
  put_time=$median put_rss=$peak
  measure bash -c "$floor" floor "${floor_paths[@]}"
  floor_time=$median
  ratio=$(awk -v a="$put_time" -v b="$floor_time" 'BEGIN {printf "%.2f", a / b}')
  echo "| $change | $put_time | $floor_time | $ratio | $put_rss | $((put_rss - empty_rss)) |"
done

# d88info over a collection: the summary of a tree of D88 files (a mix of the
# full workload's disks, data disks, disks not recognised and damaged ones)
# against the floor of reading every file once, and with one thread against
# the shell loop that starts d88info once per file; memory with two threads.
echo
collection="$work/collection"
"$bin/make_collection" "$collection" "$collection_files" >/dev/null
collection_bytes=$(find "$collection" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
find "$collection" -type f | sort >"$work/collection.list"
echo "| catalogue of $collection_files files, $((collection_bytes / 1000000)) MB | d88info s | against | against s | ratio | d88info peak KiB | d88info peak - empty KiB |"
echo "|---|---|---|---|---|---|---|"
measure "$bin/d88info" -r --summary "$collection"
summary_time=$median summary_rss=$peak
measure bash -c 'find "$1" -type f -print0 | xargs -0 cat >/dev/null' floor "$collection"
ratio=$(awk -v a="$summary_time" -v b="$median" 'BEGIN {printf "%.2f", a / b}')
echo "| -r --summary (default -j, $(nproc) cores) | $summary_time | read floor (find, xargs cat) | $median | $ratio | $summary_rss | $((summary_rss - empty_rss)) |"
measure "$bin/d88info" -r --summary -j 1 "$collection"
summary_time=$median summary_rss=$peak
measure bash -c 'while IFS= read -r f; do "$2" --json "$f"; done <"$1"' loop "$work/collection.list" "$bin/d88info"
ratio=$(awk -v a="$summary_time" -v b="$median" 'BEGIN {printf "%.2f", a / b}')
echo "| -r --summary -j 1 | $summary_time | shell loop of d88info --json | $median | $ratio | $summary_rss | $((summary_rss - empty_rss)) |"
measure "$bin/d88info" -r --summary -j 2 "$collection"
echo "| -r --summary -j 2 | $median | | | | $peak | $((peak - empty_rss)) |"
# How many times over the summary reads each image, from the reads strace
# sees (one thread): the most read image and how many are read more than
# three times their size.
if command -v strace >/dev/null; then
  strace -f -y -e trace=read,pread64 -o "$work/reads.trace" \
    "$bin/d88info" -r --summary -j 1 "$collection" >/dev/null
  find "$collection" -type f -printf '%s %p\n' >"$work/sizes.list"
  awk 'NR == FNR { size[substr($0, index($0, " ") + 1)] = $1; next }
    match($0, /read(64)?\([0-9]+<[^>]*>/) {
      call = substr($0, RSTART, RLENGTH); path = substr(call, index(call, "<") + 1)
      sub(/>$/, "", path); n = split($0, parts, "= "); read[path] += parts[n] + 0
    }
    END {
      for (p in size) { r = read[p] / size[p]; if (r > most) { most = r; which = p }; if (r > 3) over++ }
      printf "\nmost read image: %.2f times its size (%s); images read more than 3 times: %d of %d\n",
        most, which, over, length(size)
    }' "$work/sizes.list" "$work/reads.trace"
fi

# The page, from the last run of its browser tests (cmake --workflow --preset
# web) on the same 64-disk image, each timed as the user sees it (after the
# page has painted): the listing on screen after the file is given, the zip
# of "Download all" ready, and the preview of the largest file open; beside
# each the native tool that gives the same, in this run (there is no native
# preview: d88extract -a is the way to a file's bytes there).
timings=build/web/page-test/timings.json
if [[ -f "$timings" && $disks == 64 ]]; then
  page_time() {
    python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$timings" "$1"
  }
  measure "$bin/d88info" --json "$work/full.d88"
  json_time=$median
  echo
  echo "| the page (headless Chromium), full | page s | target s | native s | ratio |"
  echo "|---|---|---|---|---|"
  row() {
    awk -v what="$1" -v p="$2" -v t="$3" -v n="$4" \
      'BEGIN {printf "| %s | %.4f | %.1f | %.4f | %.2f |\n", what, p / 1000, t, n, p / 1000 / n}'
  }
  row "listing on screen (d88info --json)" "$(page_time listed)" 0.5 "$json_time"
  row "Download all ready (d88extract -a)" "$(page_time zip)" 1.5 "$extract_time"
  row "preview of the largest file open (d88extract -a)" "$(page_time preview)" 0.2 "$extract_time"
else
  echo
  echo "(no page rows: run cmake --workflow --preset web first, with 64 disks)"
fi
echo
echo "empty program peak: $empty_rss KiB; disks in full: $disks; runs: $runs (medians, after a warm-up)"
awk -v c="${per_byte[crafted]}" -v f="${per_byte[full]}" \
  'BEGIN {printf "crafted / full time per output byte: %.2f\n", c / f}'
