#!/bin/sh
# Cross-compile check for the home kernel: every unit of the product and of the unit tests is
# compiled with clang for FreeBSD 14 on amd64 and on i386, the project's warnings as errors, and
# the two libraries are archived (libvtplatform.a, libcutil.a). Nothing is linked: the commands
# need FreeBSD's C library, which a tree of headers lacks.
#
#   scripts/freebsd-check.sh SYSROOT
#
# SYSROOT holds one tree of headers per arch, SYSROOT/amd64/usr/include and
# SYSROOT/i386/usr/include, each as FreeBSD's `make includes` lays it out (or the usr/include of
# that arch's base.txz), with libc++'s headers in usr/include/c++/v1 (Debian's libc++-dev has
# them in /usr/lib/llvm-N/include/c++/v1). OpenSSL's headers come from the tree when it has them,
# else from this host; GoogleTest's from GTEST_INCLUDE (default /usr/include: only its gtest/).
# Objects and archives go to build-freebsd/ARCH. Without SYSROOT it says so and exits 0.
set -eu
cd "$(dirname "$0")/.."

sysroot=${1:-}
if [ -z "$sysroot" ] || [ ! -d "$sysroot" ]; then
  echo "freebsd-check: no FreeBSD sysroot given${sysroot:+ ($sysroot is not a directory)}; nothing checked"
  exit 0
fi
sysroot=$(cd "$sysroot" && pwd)
gtest_include=${GTEST_INCLUDE:-/usr/include}
cxx=${CXX_FOR_FREEBSD:-clang++}
ar=${AR_FOR_FREEBSD:-llvm-ar}

# The units, as CMake picks them for FreeBSD: no Linux backend, no namespaces in the test support.
product=$(ls admin/*.cpp command/*.cpp cutil/*.cpp cping/*.cpp carp/*.cpp platform/*.cpp \
             platform/common/*.cpp platform/freebsd/*.cpp)
tests=$(for f in tests/unit/*.cpp tests/support/*.cpp; do
          case $f in */mount_linux.cpp|*/netns.cpp) ;; *) echo "$f" ;; esac
        done)
warnings="-Wall -Wextra -Wshadow -Wno-missing-field-initializers -Werror"

status=0
for arch in amd64 i386; do
  root=$sysroot/$arch
  case $arch in amd64) target=x86_64-unknown-freebsd14.0 ;; i386) target=i386-unknown-freebsd14.0 ;; esac
  if [ ! -d "$root/usr/include/sys" ] || [ ! -d "$root/usr/include/c++/v1" ]; then
    echo "freebsd-check: $arch: $root lacks usr/include/sys or usr/include/c++/v1"
    status=1
    continue
  fi
  out=build-freebsd/$arch
  rm -rf "$out"
  mkdir -p "$out/extra"
  # Only the named directories of this host's include tree, never its C library.
  ln -s "$(cd "$gtest_include" && pwd)/gtest" "$out/extra/gtest"
  [ -d "$root/usr/include/openssl" ] || {
    mkdir -p "$out/extra/openssl"
    ln -s /usr/include/openssl/* /usr/include/*-linux-gnu/openssl/* "$out/extra/openssl/" 2>/dev/null || true
    echo "freebsd-check: $arch: OpenSSL's headers from this host"
  }
  units=0 failed=0 warned=0
  for src in $product $tests; do
    obj=$out/$(echo "$src" | tr / _).o
    log=$out/$(echo "$src" | tr / _).log
    # shellcheck disable=SC2086 # the warnings are split on purpose
    if nice "$cxx" --target="$target" --sysroot="$root" -nostdinc++ \
         -isystem "$root/usr/include/c++/v1" -idirafter "$out/extra" -std=c++20 -O1 $warnings \
         -DVT_ETC_DIR='"/usr/local/etc/tessaroul"' -DVT_LOG_DIR='"/var/log/tessaroul"' \
         -DVTPASSWD_BINARY='"vtpasswd"' -DVTNET_BINARY='"vtnet"' \
         -I. -Itests -c "$src" -o "$obj" 2>"$log"; then
      units=$((units + 1))
    else
      failed=$((failed + 1))
      echo "freebsd-check: $arch: $src:"
      grep -m 3 -E "error:|warning:" "$log" | sed 's/^/  /'
    fi
    grep -q "warning:" "$log" && warned=$((warned + 1))
  done
  objs() { for src in "$@"; do printf '%s ' "$out/$(echo "$src" | tr / _).o"; done; }
  if [ "$failed" -eq 0 ]; then
    # shellcheck disable=SC2046
    "$ar" rcs "$out/libvtplatform.a" $(objs $(ls platform/*.cpp platform/common/*.cpp platform/freebsd/*.cpp))
    # shellcheck disable=SC2046
    "$ar" rcs "$out/libcutil.a" $(objs $(ls cutil/*.cpp cping/*.cpp carp/*.cpp))
  fi
  echo "freebsd-check: $arch ($target): $units units compiled, $failed failed, $warned with warnings;" \
       "archives: $( [ "$failed" -eq 0 ] && echo "$out/libvtplatform.a $out/libcutil.a" || echo none)"
  [ "$failed" -eq 0 ] || status=1
done
exit $status
