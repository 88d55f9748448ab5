#!/bin/sh
# Installs what a fresh Debian machine lacks, then builds the release tree in build/.
# Safe to run again: packages already present are not fetched a second time.
set -eu
cd "$(dirname "$0")/.."

packages="g++ cmake make pkg-config libssl-dev openssl libmnl-dev libgtest-dev libbenchmark-dev
          clang libclang-rt-dev
          iproute2 iputils-ping fping util-linux
          dpkg-dev file lintian mandoc man-db"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq $missing
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
