#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs to build, test and run.
# Idempotent: installs only what is missing. Works as root or through sudo.
set -euo pipefail

PACKAGES=(
  g++ clang cmake ninja-build pkg-config make
  qt6-base-dev qt6-declarative-dev qt6-webengine-dev libqt6charts6-dev
  libqt6sql6-sqlite libqt6sql6-psql postgresql libpq-dev
  libcurl4-openssl-dev libpcre2-dev libicu-dev libcpp-httplib-dev libxlsxwriter-dev
  libgtest-dev libgmock-dev libbenchmark-dev python3-openpyxl
  xvfb xauth fonts-wqy-microhei qt6-translations-l10n
  g++-mingw-w64-x86-64-posix
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
    echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1
  fi
fi

echo "install-deps: installing ${missing[*]}"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
