#!/usr/bin/env bash
# The cross build's test emulator: run-under-wine.sh WINE PROGRAM.exe ARGS...
#
# Runs PROGRAM under WINE, passing its standard output and error through as
# they come and returning its exit status. On a loaded machine Wine now and
# then fails to start a program at all: it exits non-zero at once, and the
# program has printed nothing, not even GoogleTest's first line. Only then is
# the program started again, up to 3 times, with a note on standard error
# (which CTest keeps in the test's log). A program that printed anything ran,
# and its failure stands.
set -u

wine=$1
shift
program=$1
export WINEDEBUG=${WINEDEBUG:--all}

work=$(mktemp -d "${TMPDIR:-/tmp}/run-under-wine.XXXXXX") || exit 125
trap 'rm -rf "$work"' EXIT
mkfifo "$work/out.fifo" "$work/err.fifo" || exit 125

retries=3
for ((attempt = 0; ; ++attempt)); do
  # tee copies each stream as it comes, and keeps a copy that tells whether
  # the program printed anything.
  tee "$work/out" <"$work/out.fifo" &
  out_copy=$!
  tee "$work/err" <"$work/err.fifo" >&2 &
  err_copy=$!
  "$wine" "$@" >"$work/out.fifo" 2>"$work/err.fifo"
  status=$?
  wait "$out_copy" "$err_copy"
  if ((status == 0 || attempt == retries)) || [[ -s $work/out || -s $work/err ]]; then
    exit "$status"
  fi
  echo "note: wine did not start ${program##*[/\\]} (status $status); started again" >&2
done
