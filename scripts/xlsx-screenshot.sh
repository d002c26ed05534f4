#!/usr/bin/env bash
# Screenshot of an exported workbook as LibreOffice Calc shows it, for the README.
#
#   scripts/xlsx-screenshot.sh rank.xlsx docs/xlsx-calc.png
#
# Needs libreoffice-calc, xvfb (xvfb-run) and imagemagick (import, convert,
# compare, identify); they are not in install-deps.sh because only this picture
# needs them. Chinese cell text needs a CJK font such as fonts-wqy-microhei.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 IN.xlsx OUT.png" >&2
  exit 2
fi
[ -f "$1" ] || { echo "$0: no such file: $1" >&2; exit 1; }
in=$(realpath "$1")
out=$(realpath -m "$2")
W=1280 H=720

# A throwaway user profile, so the picture never depends on (or changes) the
# caller's own LibreOffice settings.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/profile/user"
# Calc opens a copy: it puts a lock file beside whatever it opens, and a killed
# Calc leaves that behind, so the next run would meet a "file is locked" dialog.
copy=$work/$(basename "$in")
cp "$in" "$copy"
# The tip-of-the-day dialog would cover the sheet; switch it off up front.
# (With no window manager under Xvfb, Calc's window fills the screen by itself.)
cat >"$work/profile/user/registrymodifications.xcu" <<'XCU'
<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="ShowTipOfTheDay" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
XCU

# Runs inside the virtual display: open the file, wait until the screen stops
# changing (Calc draws in several passes), then leave the last grab in now.png.
cat >"$work/grab.sh" <<'GRAB'
set -euo pipefail
work=$1 in=$2
soffice -env:UserInstallation="file://$work/profile" --norestore --nologo \
  --nofirststartwizard --nolockcheck --calc "$in" >"$work/soffice.log" 2>&1 &
pid=$!
same=0
for _ in $(seq 1 120); do
  sleep 1
  if ! kill -0 "$pid" 2>/dev/null; then
    cat "$work/soffice.log" >&2
    echo "soffice exited before the sheet was up" >&2
    exit 1
  fi
  import -silent -window root "$work/now.png"
  # One flat colour: the window is not up yet.
  [ "$(convert "$work/now.png" -format '%k' info:)" -gt 1 ] || continue
  if [ -f "$work/prev.png" ] &&
    [ "$(compare -metric AE "$work/now.png" "$work/prev.png" null: 2>&1 || true)" = 0 ]; then
    same=$((same + 1))
    # Three unchanged seconds in a row: drawing is done.
    if [ "$same" -ge 3 ]; then
      kill "$pid"
      wait "$pid" 2>/dev/null || true
      exit 0
    fi
  else
    same=0
  fi
  cp "$work/now.png" "$work/prev.png"
done
kill "$pid" 2>/dev/null || true
echo "Calc did not settle within two minutes" >&2
exit 1
GRAB

# A display number picked at random, not the lowest free one: a run started
# right after another once could not open its display, most likely because the
# last server was still shutting down on that number.
xvfb-run -a -n $((100 + RANDOM % 900)) -s "-screen 0 ${W}x${H}x24" bash "$work/grab.sh" "$work" "$copy"

mkdir -p "$(dirname "$out")"
# A settled screen can still be a dialog in front of an empty desktop; the
# sheet's grid makes at least a third of the screen white.
white=$(convert "$work/now.png" -colorspace gray -threshold 98% -format '%[fx:mean]' info:)
if ! awk -v w="$white" 'BEGIN { exit !(w >= 0.33) }'; then
  cp "$work/now.png" "$out"
  echo "$0: the screen does not look like a sheet (only $white of it is white); see $out" >&2
  exit 1
fi

# Flat UI colours pack well into a 256-colour PNG; -strip drops the timestamps
# so that reruns on the same input give the same bytes.
convert "$work/now.png" -strip -colors 256 -define png:compression-level=9 "PNG8:$out"
echo "$out: $(identify -format '%wx%h' "$out"), $(stat -c %s "$out") bytes"
