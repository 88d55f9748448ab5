#!/bin/sh
# Builds the Debian packages tessaroul-host and libcutil-dev as Debian builds: prefix /usr, the
# etc directory /etc/tessaroul, Debian's optimisation and hardening flags from dpkg-buildflags,
# no tests. The one recipe: scripts/package-check.sh checks what this builds.
# Usage: scripts/package.sh [BUILD_DIR]    (default: build-deb in the source tree)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$src/build-deb}

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
# The flags are given on every run, so that a tree configured before takes them too.
cmake -S "$src" -B "$work" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DVT_ETC_DIR=/etc/tessaroul \
  -DCMAKE_C_FLAGS="$(flags CFLAGS) $(flags CPPFLAGS)" -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
  -DVT_TESTS=OFF -DVT_BENCH=OFF -DVT_SANITIZE=OFF -DVT_FUZZ=OFF
cmake --build "$work" -j"$(nproc)"
rm -f "$work"/*.deb
(cd "$work" && cpack -G DEB)
ls "$work"/*.deb
