#!/bin/sh
# Builds and runs the whole suite twice: the normal build, then the build under
# AddressSanitizer and UndefinedBehaviorSanitizer; then runs every fuzz target briefly, and
# compiles the tree for FreeBSD where VT_FREEBSD_SYSROOT names a sysroot (see freebsd-check.sh).
set -eu
cd "$(dirname "$0")/.."
./scripts/setup.sh

ctest --test-dir build --output-on-failure

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVT_SANITIZE=ON -DVT_BENCH=OFF >/dev/null
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure

./scripts/fuzz.sh

./scripts/freebsd-check.sh "${VT_FREEBSD_SYSROOT:-}"
