#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it. When the rank
# site of the settings file cannot be reached (or none is set), the program
# runs on its bundled demo site (--demo). Extra arguments go to the program.
#   scripts/run.sh                 the window
#   scripts/run.sh --batch rank --out ranks.csv
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
generator=()
if [ ! -f build/CMakeCache.txt ] && command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
cmake -S . -B build "${generator[@]}" >/dev/null
cmake --build build -j "$(nproc)" --target lanshu-collector

program=build/src/app/lanshu-collector
args=("$@")

# The rank site: from --rank-site, else the settings file, else the default.
site=""
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[$i]}" in
    --demo) site="demo" ;;
    --rank-site) site="${args[$((i + 1))]:-}" ;;
  esac
done
if [ -z "$site" ]; then
  ini="$(dirname "$program")/青篱·览数数据采集器.ini"
  if [ -f "$ini" ]; then
    site=$(iconv -f GBK -t UTF-8 "$ini" 2>/dev/null | tr -d '\r' | sed -n 's/^排名站=//p' | head -n 1)
  fi
  site=${site:-http://rank.example.com}
fi
if [ "$site" != demo ] && ! curl -s -o /dev/null --max-time 5 "$site/"; then
  echo "run: $site cannot be reached; using the bundled demo site" >&2
  args+=(--demo)
fi

# Qt WebEngine's sandbox cannot run as root.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  case " ${args[*]} " in
    *" --batch "*) export QT_QPA_PLATFORM=offscreen ;;
    *) echo "run: no display; start it under a desktop session or xvfb-run" >&2 ;;
  esac
fi
exec "$program" "${args[@]}"
