# The bench's timing, sourced by run.sh and compare_put.sh: each needs $work
# (a scratch folder) and GNU time.
gnu_time=/usr/bin/time
if ! "$gnu_time" -f %M true >/dev/null 2>&1; then
  echo "bench: GNU time is needed (Debian package 'time')" >&2
  exit 1
fi

# median_of: the median of the numbers on standard input.
median_of() {
  sort -n | awk '{v[NR] = $1} END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# timed_in DIR COMMAND...: runs COMMAND once in DIR, its output dropped;
# sets $took (microseconds) and $rss (peak KiB). Earlier runs' writes are
# flushed first, so no run pays for another's.
timed_in() {
  local dir=$1 start end
  shift
  sync
  start=$(date +%s%N)
  (cd "$dir" && "$gnu_time" -f %M -o "$work/rss" "$@" >/dev/null)
  end=$(date +%s%N)
  took=$(((end - start) / 1000))
  rss=$(cat "$work/rss")
}
