#!/usr/bin/env bash
# Runs a command with the services the tests use: a private D-Bus session with an
# unlocked Secret Service (gnome-keyring). JACK servers are started by the tests
# themselves, each under a server name of its own, with the dummy driver.
# Usage: scripts/with-services.sh command [args...]
set -euo pipefail
if [ -z "${NORV_SERVICES_UP:-}" ]; then
  export NORV_SERVICES_UP=1
  exec dbus-run-session -- "$0" "$@"
fi
# A WAYLAND_DISPLAY socket name is relative to XDG_RUNTIME_DIR, which is replaced below.
if [ -n "${WAYLAND_DISPLAY:-}" ] && [ "${WAYLAND_DISPLAY#/}" = "$WAYLAND_DISPLAY" ] && [ -n "${XDG_RUNTIME_DIR:-}" ]; then
  export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"
fi
keyring_home=$(mktemp -d)
export XDG_DATA_HOME="$keyring_home/data" XDG_RUNTIME_DIR="$keyring_home/run"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# A fixed password creates and unlocks a fresh login keyring without a prompt.
eval "$(printf 'norv-test\n' | gnome-keyring-daemon --unlock --components=secrets)" || true
export GNOME_KEYRING_CONTROL
set +e
"$@"
status=$?
set -e
rm -rf "$keyring_home"
exit $status
