#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program in the current directory.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build"
cmake --build "$here/build" -j2
exec "$here/build/dosemanager" "$@"
