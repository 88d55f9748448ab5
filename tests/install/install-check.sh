#!/bin/sh
# Installs a build into a fresh prefix and uses it as an outside project would: the layout, the
# manual pages, then a consumer built once through find_package and once through pkg-config.
# Usage: install-check.sh BUILD_DIR [C++ compiler]
set -eu
build=$(cd "$1" && pwd)
cxx=${2:-c++}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/cutil-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }

# Layout: our headers live in one folder of ours, nothing at a generic name such as include/platform.
[ "$(ls "$prefix/include")" = cutil ] || fail "include/ holds $(ls "$prefix/include" | tr '\n' ' ')"
for path in sbin/vtpasswd sbin/vtnet include/cutil/cutil/ifconf.hpp include/cutil/platform/bsd.hpp \
            include/cutil/cping/cping.hpp include/cutil/carp/carp.hpp \
            share/doc/tessaroul-host/copyright share/doc/tessaroul-host/changelog.Debian.gz \
            share/doc/libcutil-dev/copyright share/doc/libcutil-dev/changelog.Debian.gz; do
  [ -e "$prefix/$path" ] || fail "$path not installed"
done
pcfile=$(find "$prefix" -name cutil.pc)
[ -n "$pcfile" ] || fail "cutil.pc not installed"
[ -n "$(find "$prefix" -name cutilConfigVersion.cmake)" ] || fail "cutilConfigVersion.cmake not installed"

# Every administration command has its page, which lints clean and renders.
for program in "$prefix"/sbin/*; do
  name=$(basename "$program")
  page=$prefix/share/man/man8/$name.8.gz
  [ -f "$page" ] || fail "no manual page for $name"
  gzip -dc "$page" | grep -q "^\.Os tessaroul [0-9]" || fail "$name.8 does not name its system in .Os"
  # Style notes are the base system's conventions: our pages name their own system in .Os.
  mandoc -T lint -W warning "$page" || fail "mandoc -T lint $page"
  MANWIDTH=80 man -l "$page" 2>"$work/man.err" | grep -q "^NAME" || { cat "$work/man.err"; fail "man -l $page"; }
done

cmake -S "$here/consumer" -B "$work/by-cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
  >"$work/by-cmake.log" 2>&1 || { cat "$work/by-cmake.log"; fail "find_package(cutil)"; }
cmake --build "$work/by-cmake" >"$work/by-cmake.log" 2>&1 || { cat "$work/by-cmake.log"; fail "consumer build (CMake)"; }
"$here/run-private.sh" "$work/by-cmake/consumer" || fail "consumer built through find_package"

# Without --static, as meson and autotools ask: the library is static, so that must be enough.
flags=$(PKG_CONFIG_PATH=$(dirname "$pcfile") pkg-config --cflags --libs cutil) || fail "pkg-config cutil"
# shellcheck disable=SC2086 # the flags are words
"$cxx" -std=c++20 -o "$work/by-pkg-config" "$here/consumer/main.cpp" $flags || fail "consumer build (pkg-config)"
"$here/run-private.sh" "$work/by-pkg-config" || fail "consumer built through pkg-config"
echo "install check passed"
