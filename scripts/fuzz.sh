#!/bin/sh
# Builds the fuzz targets (clang: libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz/ and runs every one of them from its seeds in fuzz/corpus/<target>.
#
#   scripts/fuzz.sh                  each target briefly, through ctest (the run of the test suite)
#   scripts/fuzz.sh SECONDS [JOBS]   each target for SECONDS, JOBS at a time (default 1), then a
#                                    table of executions per second and coverage per target
#
# New inputs go to build-fuzz/fuzz/corpus/<target>, so a later run goes on from them; an input
# that breaks a target is kept in build-fuzz/fuzz/artifacts/. Exits non-zero when one broke.
set -eu
cd "$(dirname "$0")/.."

cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_TESTS=OFF -DVT_BENCH=OFF -DVT_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)"

if [ $# -eq 0 ]; then
  exec ctest --test-dir build-fuzz -L fuzz --output-on-failure
fi

seconds=$1
jobs=${2:-1}
out=build-fuzz/fuzz
mkdir -p "$out/logs" "$out/artifacts"
targets=$(cd fuzz && ls ./*.cpp | sed 's|^\./||; s|\.cpp$||')

for t in $targets; do echo "$t"; done | xargs -P "$jobs" -I{} sh -c '
  mkdir -p "$1/corpus/$2"
  "$1/fuzz_$2" -max_total_time="$3" -timeout=10 -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$1/artifacts/$2-" "$1/corpus/$2" "fuzz/corpus/$2" >"$1/logs/$2.log" 2>&1 \
    || echo "$2: broken, see $1/logs/$2.log"
' sh "$out" {} "$seconds"

printf '%-14s %10s %9s %6s %7s %8s\n' target runs exec/s cov ft corpus
status=0
for t in $targets; do
  log=$out/logs/$t.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  last=$(grep -E '^#[0-9]+' "$log" | tail -1)
  cov=$(echo "$last" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
  ft=$(echo "$last" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')
  corp=$(echo "$last" | sed -n 's/.*corp: \([0-9]*\)\/.*/\1/p')
  printf '%-14s %10s %9s %6s %7s %8s\n' "$t" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}"
  grep -q '^Done [0-9]* runs\|^#[0-9]*.*DONE' "$log" || status=1
done
exit $status
