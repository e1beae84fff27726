#!/usr/bin/env bash
# Installs dependencies, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs every test. Extra arguments go to ctest (for example: -L model).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh --sanitize
cd build
export QT_QPA_PLATFORM=offscreen
# Sanitizer settings for every test and every program the tests start.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/../tests/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
exec ../scripts/with-services.sh ctest --output-on-failure --timeout 300 -j "${NORV_TEST_JOBS:-4}" "$@"
