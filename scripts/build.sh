#!/usr/bin/env bash
# Configures and builds the project. The application's build lives in build/; the sanitizer
# build (--sanitize, used by the test command and CI) in build-asan/, so neither rebuilds the other.
# Usage: scripts/build.sh [--sanitize] [extra cmake -D options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
sanitize=OFF
args=()
for a in "$@"; do
  case "$a" in
    --sanitize) dir=build-asan; sanitize=ON ;;
    *) args+=("$a") ;;
  esac
done
jobs="${NORV_JOBS:-$(nproc)}"
# ccache (when installed) keys compilations on paths relative to the checkout, so every clone
# and worktree of the project shares one cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"
# The sanitizer setting is always given, so a folder never keeps the other build's setting.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" \
  -DNORV_SANITIZE="$sanitize" "${args[@]}"
cmake --build "$dir" -j "$jobs"
