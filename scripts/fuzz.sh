#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang-14, NORV_FUZZ=ON) and runs each for a
# bounded time on a scratch copy of its seeds and regression inputs. Fails when a target fails.
# Usage: scripts/fuzz.sh [seconds per target, default 20] [target name ...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-20}
shift || true
jobs=${NORV_JOBS:-$(nproc)}

CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DNORV_FUZZ=ON -DNORV_BUILD_TESTS=OFF \
  -DNORV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*_fuzzer.cpp; do
    name=$(basename "$source" _fuzzer.cpp)
    targets+=("$name")
  done
fi
# Only the fuzzers and the libraries they need, not the programs.
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/%/_fuzzer}" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=()
for name in "${targets[@]}"; do
  corpus=$scratch/$name/corpus
  artifacts=$scratch/$name/artifacts
  mkdir -p "$corpus" "$artifacts"
  for seeds in fuzz/corpus/$name fuzz/regressions/$name; do
    if [ -d "$seeds" ]; then cp -r "$seeds"/. "$corpus"/; fi
  done
  echo "fuzz: $name for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$root/build-fuzz/fuzz/${name}_fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$artifacts/" -print_final_stats=1 "$corpus" >"$scratch/$name/log" 2>&1; then
    tail -n 60 "$scratch/$name/log"
    mkdir -p "build-fuzz/failures/$name"
    cp -r "$artifacts"/. "build-fuzz/failures/$name/"
    echo "fuzz: $name FAILED (inputs kept in build-fuzz/failures/$name)"
    failed+=("$name")
  else
    grep -E "stat::number_of_executed_units|cov:" "$scratch/$name/log" | tail -n 2 || true
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets passed"
