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
  # the fonts the tests pin (tests/fontconfig), and the fonts most desktops carry, with which
  # CI also runs a share of the tests
  fonts-dejavu-core fonts-noto-core fonts-noto-mono
  # the German locale that locale tests and CI's desktop-user run use
  locales
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

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  # sudo drops the caller's environment, so the setting goes through env to apt and debconf.
  apt=("${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive)
  echo "jackd2 jackd/tweak_rt_limits boolean false" | "${apt[@]}" debconf-set-selections || true
  "${apt[@]}" apt-get update -qq
  "${apt[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# de_DE.UTF-8, generated once.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "install-deps: generating de_DE.UTF-8"
  "${SUDO[@]}" sed -i -E 's/^# *(de_DE\.UTF-8 UTF-8)/\1/' /etc/locale.gen
  grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen ||
    echo 'de_DE.UTF-8 UTF-8' | "${SUDO[@]}" tee -a /etc/locale.gen >/dev/null
  "${SUDO[@]}" locale-gen
fi
