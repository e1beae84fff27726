#!/usr/bin/env bash
# Configures and builds the project into build/.
# Usage: scripts/build.sh [--sanitize] [extra cmake -D options...]
set -euo pipefail
cd "$(dirname "$0")/.."
args=()
for a in "$@"; do
  case "$a" in
    --sanitize) args+=(-DNORV_SANITIZE=ON) ;;
    *) args+=("$a") ;;
  esac
done
jobs="${NORV_JOBS:-$(nproc)}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" "${args[@]}"
cmake --build build -j "$jobs"
