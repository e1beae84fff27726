#!/usr/bin/env bash
# The long soak runs, by hand: builds into build-asan/ as scripts/test.sh does and runs the soak
# tests for the given number of seconds each (default 600). The test command runs them in their
# short form.
#   scripts/soak.sh [seconds] [gtest filter]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
filter="${2:-*}"
scripts/install-deps.sh
scripts/build.sh --sanitize
cd build-asan
source ../scripts/test-env.sh
export NORV_SOAK_SECONDS="$seconds"
status=0
for test in tests/helper_soak_test tests/app_soak_test; do
  if [[ ! -x "$test" ]]; then echo "== $test was not built"; status=1; continue; fi
  echo "== $test for ${seconds} s"
  ../scripts/with-services.sh "$test" --gtest_filter="$filter" || status=1
done
exit "$status"
