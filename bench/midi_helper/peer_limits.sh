#!/usr/bin/env bash
# The helper at its peer limits on PipeWire beside jackd: builds the programs (build/, Release unless
# CMAKE_BUILD_TYPE says otherwise), then runs the probe on jackd and on a private PipeWire in turn,
# --runs times each, on the machine as it is and, with --beside-build, beside a fresh -j16 build of
# this project with ccache off (started before each pair of runs, stopped after it). One line per run,
# with the load average before and after.
#   bench/midi_helper/peer_limits.sh [--seconds 60] [--runs 2] [--beside-build]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=60
runs=2
beside=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --beside-build) beside=1; shift ;;
    *) echo "usage: $0 [--seconds N] [--runs N] [--beside-build]" >&2; exit 2 ;;
  esac
done
# Only what the runs need, into build/ as scripts/build.sh lays it out (sharing its ccache).
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-Release}" -DNORV_SANITIZE=OFF >/dev/null
cmake --build build -j "${NORV_JOBS:-$(nproc)}" --target midi_helper_peer_limits_probe_jackd \
  midi_helper_peer_limits_probe_pipewire NorvMIDIHelper >/dev/null

scratch=$(mktemp -d)
builder=""
stop_build() {
  if [ -n "$builder" ]; then
    kill -TERM -- "-$builder" 2>/dev/null || true
    wait "$builder" 2>/dev/null || true
    builder=""
  fi
}
trap 'stop_build; rm -rf "$scratch"' EXIT
start_build() {
  rm -rf "$scratch/build"
  # A process group of its own, so that stopping it stops every compiler it started.
  setsid bash -c "CCACHE_DISABLE=1 cmake -S . -B '$scratch/build' -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER= >/dev/null && \
    CCACHE_DISABLE=1 ninja -C '$scratch/build' -j16 >/dev/null 2>&1" &
  builder=$!
  sleep 20 # past configuration, into the compilers
}

for run in $(seq 1 "$runs"); do
  [ "$beside" = 1 ] && start_build
  for server in jackd pipewire; do
    printf 'run %s %s: ' "$run" "$( [ "$beside" = 1 ] && echo 'beside a -j16 build' || echo 'as the machine is')"
    # WirePlumber serves JACK's metadata only with a session bus: a private one when there is none.
    if [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then session=(); else session=(dbus-run-session --); fi
    "${session[@]}" build/bench/midi_helper_peer_limits_probe_$server --helper build/bin/NorvMIDIHelper \
      --seconds "$seconds" 2> >(grep -v '^dbus-daemon' >&2) || true
  done
  stop_build
done
