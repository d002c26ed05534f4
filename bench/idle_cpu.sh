#!/usr/bin/env bash
# CPU time of an idle window: starts the program on the bundled demo site,
# lets the start-up settle, then samples the CPU time of the program and of
# the browser engine's helper processes over 10 s. Prints the share of one
# core, offscreen and under Xvfb (target: at most 2 % for the program).
#   bench/idle_cpu.sh [build-dir] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-10}
program=$build/src/app/lanshu-collector
[ -x "$program" ] || { echo "idle_cpu: $program is not built" >&2; exit 1; }
export QTWEBENGINE_DISABLE_SANDBOX=1
hz=$(getconf CLK_TCK)

# utime + stime (fields 14 and 15 of /proc/PID/stat) of a process.
ticks() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
  stat=${stat##*) }  # the command name may hold spaces
  set -- $stat
  echo $(( ${12} + ${13} ))
}

descendants() {
  local child
  for child in $(pgrep -P "$1"); do
    echo "$child"
    descendants "$child"
  done
}

measure() {  # label, then the command line that starts the program
  local label=$1 dir
  shift
  dir=$(mktemp -d)
  "$@" --demo --settings "$dir/idle.ini" >/dev/null 2>&1 &
  local launcher=$!
  sleep 8  # the login tab loads its page a moment after the start
  local main
  main=$(pgrep -n -f "^$program" || true)
  [ -n "$main" ] || { echo "idle_cpu: the program did not start ($label)" >&2; kill "$launcher" 2>/dev/null; exit 1; }
  local helpers
  helpers=$(descendants "$main")
  local m0 h0=0 m1 h1=0 p
  m0=$(ticks "$main")
  for p in $helpers; do h0=$(( h0 + $(ticks "$p") )); done
  sleep "$seconds"
  m1=$(ticks "$main")
  for p in $helpers; do h1=$(( h1 + $(ticks "$p") )); done
  kill "$main" 2>/dev/null || true
  wait "$launcher" 2>/dev/null || true
  rm -rf "$dir"
  awk -v l="$label" -v m=$(( m1 - m0 )) -v h=$(( h1 - h0 )) -v hz="$hz" -v s="$seconds" \
    'BEGIN { printf "%-9s program %5.1f %% of a core, browser helpers %5.1f %% (over %d s)\n", l, 100*m/hz/s, 100*h/hz/s, s }'
}

QT_QPA_PLATFORM=offscreen measure offscreen "$program"
if command -v xvfb-run >/dev/null 2>&1; then
  QT_QPA_PLATFORM=xcb measure xvfb xvfb-run -a -s "-screen 0 1280x1024x24" "$program"
fi
