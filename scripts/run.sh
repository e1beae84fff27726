#!/usr/bin/env bash
# Installs dependencies, builds, and starts the application on the demo engine runtime.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ -x build/bin/NorvBridgeMac ]; then
  exec build/bin/NorvBridgeMac "$@"
fi
echo "NorvBridgeMac was not built; see the build output above." >&2
exit 1
