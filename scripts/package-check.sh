#!/bin/sh
# Builds the Debian packages with scripts/package.sh, the one recipe, and checks them: lintian
# --pedantic finds nothing but the overrides the packages carry with their reasons, dpkg -i
# installs both, the commands run, use /etc/tessaroul and show their pages, the library links from
# its package with and without --static, and dpkg -r leaves nothing behind. dpkg needs root:
# without root, or when a package is already installed on this host, it skips (status 77).
# Usage: scripts/package-check.sh [WORK_DIR]    (default: build-pkg in the source tree)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$src/build-pkg}
packages="tessaroul-host libcutil-dev"

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

[ "$(id -u)" -eq 0 ] || skip "dpkg -i needs root"
for tool in cpack lintian dpkg-buildflags dpkg-shlibdeps file pkg-config unshare; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/setup.sh installs it)"
done
for p in $packages; do ! installed "$p" || skip "$p is installed on this host; the check leaves it alone"; done

mkdir -p "$work"
log=$work/check.log
"$src/scripts/package.sh" "$work" >"$log" 2>&1 || { cat "$log"; fail "scripts/package.sh"; }
host=$(ls "$work"/tessaroul-host_*.deb) dev=$(ls "$work"/libcutil-dev_*.deb)
for deb in "$host" "$dev"; do dpkg-deb -f "$deb" Package Version Depends Section; done

echo "lintian:"
lintian --pedantic --display-level ">=pedantic" --fail-on error,warning,info,pedantic "$host" "$dev" ||
  fail "lintian reports what no override explains"

# Which of the packages' paths the host has before: those (shared folders) stay after removal.
for deb in "$host" "$dev"; do dpkg-deb -c "$deb"; done |
  awk '{ p = $6; sub(/^\./, "", p); sub(/\/$/, "", p); if (p != "") print p }' | sort -u >"$work/paths"
while read -r p; do [ -e "$p" ] && echo "$p"; done <"$work/paths" >"$work/before" || true

trap 'for p in $packages; do installed "$p" && dpkg -r "$p" >/dev/null; done' EXIT
dpkg -i "$host" "$dev" >"$log" 2>&1 || { cat "$log"; fail "dpkg -i"; }

# The command starts with its libraries: end of input before the request is its status 2.
set +e
/usr/sbin/vtpasswd </dev/null >/dev/null 2>"$work/vtpasswd.err"
status=$?
set -e
[ "$status" -eq 2 ] && grep -q "^Fatal error: uncaught exception End_of_file$" "$work/vtpasswd.err" ||
  fail "installed vtpasswd: status $status, $(cat "$work/vtpasswd.err")"
# Its etc directory is Debian's /etc/tessaroul: a user added lands there (a private /etc on tmpfs).
unshare -m sh -c 'mount -t tmpfs tmpfs /etc && echo "admin s3cret" | /usr/sbin/vtpasswd >/dev/null 2>&1 &&
  test -s /etc/tessaroul/vanto_users.dat' || fail "installed vtpasswd does not write /etc/tessaroul"
# vtnet starts too, and reads its command line before anything else: none is its status 2.
set +e
/usr/sbin/vtnet >/dev/null 2>"$work/vtnet.err"
status=$?
set -e
[ "$status" -eq 2 ] && grep -q "^vtnet: no subcommand given" "$work/vtnet.err" ||
  fail "installed vtnet: status $status, $(cat "$work/vtnet.err")"
for name in vtpasswd vtnet; do
  MANWIDTH=80 man -l "/usr/share/man/man8/$name.8.gz" >"$work/$name.txt" 2>/dev/null
  grep -q "^NAME" "$work/$name.txt" || fail "man -l $name.8.gz of the package"
  ! grep -q "/usr/local" "$work/$name.txt" || fail "$name.8 of the package names /usr/local"
done
grep -q "/etc/tessaroul/vanto_users.dat" "$work/vtpasswd.txt" || fail "vtpasswd.8 of the package misses /etc/tessaroul"
cmake -S "$src/tests/install/consumer" -B "$work/consumer" >"$log" 2>&1 &&
  cmake --build "$work/consumer" >>"$log" 2>&1 || { cat "$log"; fail "consumer of the package"; }
"$src/tests/install/run-private.sh" "$work/consumer/consumer" >/dev/null || fail "consumer of the package answers"
for static in "" --static; do
  # shellcheck disable=SC2046 # the flags are words
  c++ -std=c++20 -o "$work/by-pkg-config" "$src/tests/install/consumer/main.cpp" $(pkg-config --cflags --libs $static cutil) ||
    fail "consumer of the package through pkg-config $static"
done

dpkg -r $packages >"$log" 2>&1 || { cat "$log"; fail "dpkg -r"; }
for p in $packages; do ! installed "$p" || fail "$p still installed"; done
while read -r p; do [ -e "$p" ] && echo "$p"; done <"$work/paths" >"$work/after" || true
cmp -s "$work/before" "$work/after" || { diff "$work/before" "$work/after"; fail "dpkg -r left files behind"; }
echo "package check passed: $(basename "$host") $(basename "$dev")"
