#!/usr/bin/env bash
# Checks that every widget-free source file also compiles for Windows, so that
# no POSIX-only call slips into the libraries: a syntax-only pass of the
# MinGW-w64 cross compiler, with the platform-neutral PCRE2, ICU, libcurl and
# libxlsxwriter headers of this machine. Needs g++-mingw-w64-x86-64-posix (install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=x86_64-w64-mingw32-g++-posix
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "check-windows: $cxx not found (Debian package g++-mingw-w64-x86-64-posix)" >&2
  exit 1
fi

# Only the four libraries' headers, not the rest of the Linux include tree.
inc=$(mktemp -d)
trap 'rm -rf "$inc"' EXIT
curl_dir=$(dirname "$(find /usr/include -name curl.h -path '*/curl/*' | head -n 1)")
ln -s "$curl_dir" "$inc/curl"
ln -s /usr/include/unicode "$inc/unicode"
ln -s /usr/include/pcre2.h "$inc/pcre2.h"
ln -s /usr/include/xlsxwriter.h "$inc/xlsxwriter.h"
ln -s /usr/include/xlsxwriter "$inc/xlsxwriter"

# Every library under src/ that does without Qt: the window (src/app) and the
# history store (src/history, on Qt SQL) are Qt's to port.
mapfile -t files < <(find src -name '*.cpp' -not -path 'src/app/*' -not -path 'src/history/*' -print0 |
                     xargs -0 grep -L '#include <Q' | sort)
failed=0
for f in "${files[@]}"; do
  if ! "$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Isrc -isystem "$inc" "$f"; then
    echo "check-windows: $f does not compile for Windows" >&2
    failed=1
  fi
done
if [ "$failed" -ne 0 ]; then exit 1; fi
echo "check-windows: ${#files[@]} widget-free source files compile for Windows"
