#!/bin/sh
# Builds the Debian package the way Debian builds (prefix /usr, its compiler flags, no tests) and
# checks it: lintian finds no error, dpkg -i installs it, the commands run and their pages show,
# the library links from it, and dpkg -r leaves nothing of it behind. dpkg needs root: without root, or when the
# package is already installed on this host, it skips (status 77) saying why.
# Usage: scripts/package-check.sh [WORK_DIR]    (default: build-pkg in the source tree)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$src/build-pkg}
pkg=tessaroul-host

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
installed() { dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; }

[ "$(id -u)" -eq 0 ] || skip "dpkg -i needs root"
for tool in cpack lintian dpkg-buildflags dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/setup.sh installs it)"
done
! installed || skip "$pkg is installed on this host; the check leaves it alone"

mkdir -p "$work"
log=$work/check.log
# Debian's flags, given explicitly so that a tree configured before takes them too.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$src" -B "$work" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DVT_TESTS=OFF -DVT_BENCH=OFF -DVT_SANITIZE=OFF >"$log" 2>&1 || { cat "$log"; fail "configure"; }
cmake --build "$work" -j"$(nproc)" >"$log" 2>&1 || { cat "$log"; fail "build"; }
rm -f "$work"/*.deb
(cd "$work" && cpack -G DEB) >"$log" 2>&1 || { cat "$log"; fail "cpack"; }
deb=$(ls "$work"/*.deb)
dpkg-deb -f "$deb" Package Version Depends Suggests Section

echo "lintian:"
lintian --fail-on error --display-level ">=info" "$deb" || fail "lintian reports errors"

# Which of the package's paths the host has before: those (shared folders) stay after removal.
dpkg-deb -c "$deb" | awk '{ p = $6; sub(/^\./, "", p); sub(/\/$/, "", p); if (p != "") print p }' >"$work/paths"
while read -r p; do [ -e "$p" ] && echo "$p"; done <"$work/paths" >"$work/before" || true

trap 'installed && dpkg -r "$pkg" >/dev/null' EXIT
dpkg -i "$deb" >"$log" 2>&1 || { cat "$log"; fail "dpkg -i"; }

# The command starts with its libraries: end of input before the request is its status 2.
set +e
/usr/sbin/vtpasswd </dev/null >/dev/null 2>"$work/vtpasswd.err"
status=$?
set -e
[ "$status" -eq 2 ] && grep -q "^Fatal error: uncaught exception End_of_file$" "$work/vtpasswd.err" ||
  fail "installed vtpasswd: status $status, $(cat "$work/vtpasswd.err")"
# vtnet starts too, and reads its command line before anything else: none is its status 2.
set +e
/usr/sbin/vtnet >/dev/null 2>"$work/vtnet.err"
status=$?
set -e
[ "$status" -eq 2 ] && grep -q "^vtnet: no subcommand given" "$work/vtnet.err" ||
  fail "installed vtnet: status $status, $(cat "$work/vtnet.err")"
for name in vtpasswd vtnet; do
  MANWIDTH=80 man -l "/usr/share/man/man8/$name.8.gz" 2>/dev/null | grep -q "^NAME" || fail "man -l $name.8.gz of the package"
done
cmake -S "$src/tests/install/consumer" -B "$work/consumer" >"$log" 2>&1 &&
  cmake --build "$work/consumer" >>"$log" 2>&1 || { cat "$log"; fail "consumer of the package"; }
"$src/tests/install/run-private.sh" "$work/consumer/consumer" >/dev/null || fail "consumer of the package answers"

dpkg -r "$pkg" >"$log" 2>&1 || { cat "$log"; fail "dpkg -r"; }
! installed || fail "$pkg still installed"
while read -r p; do [ -e "$p" ] && echo "$p"; done <"$work/paths" >"$work/after" || true
cmp -s "$work/before" "$work/after" || { diff "$work/before" "$work/after"; fail "dpkg -r left files behind"; }
echo "package check passed: $(basename "$deb")"
