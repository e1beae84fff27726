#!/usr/bin/env bash
# Installs dependencies, builds with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ (build/ stays the application's), and runs every test there. Extra arguments go
# to ctest (for example: -L model).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh --sanitize
cd build-asan
# Sanitizer settings for every test and every program the tests start.
source ../scripts/test-env.sh
exec ../scripts/with-services.sh ctest --output-on-failure --timeout 300 -j "${NORV_TEST_JOBS:-4}" "$@"
