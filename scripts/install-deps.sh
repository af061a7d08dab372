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
  # Qt's own buttons and dialogs in Chinese under any locale.
  qttranslations5-l10n
  # Laboratory workbooks read on import: .xls through FreeXL, .xlsx through libzip.
  libfreexl-dev libzip-dev
  # xlsxwriter.pc asks for -lz, but libxlsxwriter-dev does not bring zlib's
  # development files along.
  libxlsxwriter-dev zlib1g-dev poppler-utils unzip
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

command_line="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  # A bare Debian has no sudo: say once what root has to run, and change
  # nothing rather than leave half an installation behind.
  if ! command -v sudo >/dev/null 2>&1; then
    echo "These Debian packages are missing: ${missing[*]}" >&2
    echo "Install them as root, then run this command again:" >&2
    echo "    su -c '$command_line'" >&2
    exit 1
  fi
  SUDO="sudo"
fi

echo "Installing missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get update || ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  echo "The packages could not be installed. As root, run:" >&2
  echo "    $command_line" >&2
  exit 1
fi
