#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite through CTest.
#   ./test.sh             ordinary build in build/
#   ./test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#                         (also when DOSE_SANITIZE=1 is set)
set -euo pipefail
cd "$(dirname "$0")"

sanitize="${DOSE_SANITIZE:-0}"
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=1 ;;
    *) echo "unknown option: $arg" >&2; exit 2 ;;
  esac
done

./scripts/install-deps.sh

builddir=build
cmake_args=()
if [ "$sanitize" = "1" ]; then
  builddir=build-asan
  cmake_args+=(-DDOSE_SANITIZE=ON)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan.supp"
fi

cmake -S . -B "$builddir" "${cmake_args[@]}"
cmake --build "$builddir" -j2
export QT_QPA_PLATFORM=offscreen
cd "$builddir"
ctest --output-on-failure -j2
