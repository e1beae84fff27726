#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  # toolchain and build
  build-essential cmake ninja-build pkg-config git ccache
  clang-14 libclang-rt-14-dev
  # libraries
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev
  qtkeychain-qt6-dev libssl-dev
  nlohmann-json3-dev zlib1g-dev libicu-dev
  libjack-jackd2-dev libbluetooth-dev libsystemd-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # run time and test services
  openssl python3 jackd2 gnome-keyring dbus dbus-x11 libsecret-tools
  # the helper's tests on PipeWire: the server, WirePlumber and PipeWire's libjack
  pipewire pipewire-bin wireplumber pipewire-jack
  qt6-qpa-plugins libqt6svg6 xvfb xauth procps zip unzip
  # the fixed-pitch font the monitor table tests draw in
  fonts-dejavu-core
  # the monitor's demo probe (bench/ui) clicks through XTEST
  libxtst6
  # the fake BlueZ of the Bluetooth tests and the keyring's stand-in prompter (its secret exchange)
  python3-dbus python3-gi python3-cryptography
  # Wayland: Qt's platform plugin and the compositor (headless) the Wayland test runs in; libxcb's
  # headers for the tests that close the X11 window as a window manager would
  qt6-wayland weston libxcb1-dev
  # the Debian package (scripts/package.sh) and its checks
  dpkg-dev file gzip man-db groff-base lintian appstream desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections || true
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
