#!/usr/bin/env bash
# Installs the Debian packages the program, its tests and its package
# (package.sh) need, only those missing.
# Run by run.sh and test.sh; never needed by hand.
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config
  qtbase5-dev libqt5serialport5-dev libqt5sql5-sqlite libqt5sql5-psql postgresql
  libqwt-qt5-dev
  fonts-wqy-zenhei
  libfreexl-dev
  libxlsxwriter-dev poppler-utils unzip
  dpkg-dev file desktop-file-utils appstream lintian
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
