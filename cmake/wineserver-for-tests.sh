#!/usr/bin/env bash
# wineserver-for-tests.sh start|stop WINE WINESERVER MARKER
#
# One Wine server for a whole test run. Debian's wineserver stops as soon as
# its last program ends, so a run's many short tests would each start one
# anew, some while the last one is still stopping. `start` makes the prefix
# if it is missing, then starts a server that waits 60 s after its last
# program (so an interrupted run leaves none behind), and leaves MARKER;
# `stop` stops the server that `start` started, and only that one.
set -u

action=$1
wine=$2
wineserver=$3
marker=$4
prefix=${WINEPREFIX:-$HOME/.wine}
export WINEDEBUG=${WINEDEBUG:--all}

case $action in
start)
  rm -f "$marker"
  # A missing prefix is made here rather than by the first test; should that
  # fail, the tests show why.
  if [[ ! -d $prefix ]]; then
    "$wine" wineboot --init
    "$wineserver" -w
  fi
  # A server still stopping (after the tests were listed) or another
  # session's is refused; try for 5 s, then run the tests with whichever
  # server there is. The server's output goes nowhere: it would keep CTest
  # waiting for the end of this test's output.
  for ((try = 0; try < 50; ++try)); do
    if "$wineserver" -p60 </dev/null >/dev/null 2>&1; then
      touch "$marker"
      # The first program under a new server starts Wine's own services,
      # which keep its standard error open until the server stops: here
      # rather than in a test, whose end CTest would wait for.
      "$wine" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
      exit 0
    fi
    sleep 0.1
  done
  echo "note: a Wine server was already running for $prefix; the tests use it"
  ;;
stop)
  if [[ -e $marker ]]; then
    rm -f "$marker"
    # Gone already (stopped by hand) is no failure of the tests.
    "$wineserver" -k 2>/dev/null || true
  fi
  ;;
*)
  echo "usage: $0 start|stop WINE WINESERVER MARKER" >&2
  exit 2
  ;;
esac
