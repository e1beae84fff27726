#!/usr/bin/env bash
# Builds the Debian package into build-pkg/, a build folder of its own (programs stripped,
# installed under /usr), and prints the package's path on standard output; everything else goes
# to standard error. With --check it then checks the package: lintian without errors, modes 755
# and 644 only, the AppStream metainfo and the desktop entry valid.
# Usage: scripts/package.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2
check=no
for a in "$@"; do
  case "$a" in
    --check) check=yes ;;
    *) echo "usage: scripts/package.sh [--check]" >&2; exit 2 ;;
  esac
done
scripts/install-deps.sh
# The package's modes never follow the builder's: whatever this step makes is 755 or 644.
umask 022
dir=build-pkg
jobs="${NORV_JOBS:-$(nproc)}"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"
# The release date in the metainfo, the manual pages and the changelog: the last commit's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH
# Debian's hardening flags: fortified functions, the stack protector, and relocations resolved
# and made read-only at start.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORV_SANITIZE=OFF \
  -DNORV_BUILD_TESTS=OFF -DNORV_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build "$dir" -j "$jobs"
# Debian's own files are configured from the checkout, whose modes follow the umask it was made
# with; the install rules fix the modes of everything else.
chmod -R u=rwX,go=rX "$dir"/generated/debian-extras
rm -f "$dir"/norv-bridge_*.deb
(cd "$dir" && cpack -G DEB)
deb=$(ls "$dir"/norv-bridge_*.deb)

if [ "$check" = yes ]; then
  lintian --fail-on error --display-info "$deb"
  # Folders and programs 755, every other file 644.
  odd=$(dpkg-deb -c "$deb" | awk '$1 !~ /^(drwxr-xr-x|-rwxr-xr-x|-rw-r--r--|lrwxrwxrwx)$/')
  if [ -n "$odd" ]; then
    echo "package.sh: entries with other modes:" >&2
    echo "$odd" >&2
    exit 1
  fi
  unpacked=$(mktemp -d)
  trap 'rm -rf "$unpacked"' EXIT
  dpkg-deb -x "$deb" "$unpacked"
  appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/org.norv.NorvBridge.metainfo.xml
  desktop-file-validate "$unpacked"/usr/share/applications/org.norv.NorvBridge.desktop
  echo "package.sh: lintian, appstreamcli and desktop-file-validate pass"
fi
echo "$deb" >&3
