#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer)
# in build-fuzz/ and runs each for a bounded time on a copy of its seed corpus. A finding
# stops with a failure; its input is left in build-fuzz/findings/ to join fuzz/corpus/.
#   bash scripts/fuzz.sh [seconds per target]     default 20
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
secs=${1:-20}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_FUZZ=ON -DVANTREL_GUI=OFF \
    -DVANTREL_TESTS=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" >/dev/null
cmake --build build-fuzz -j"$(nproc)"
# A library may size a table from what an archive's headers say (libarchive asks for 7 GB
# for a 7z that claims 100,000,000 files): larger asks fail, as they do on a system
# without overcommit, instead of the sanitizer filling gigabytes of shadow memory.
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=2048"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
work=build-fuzz/work
rm -rf "$work"; mkdir -p "$work" build-fuzz/findings
total=0
for t in framer compressed fetch overview scanfetch subject date yenc headerfile favs watch settings journal nzb par2 archive http; do
  mkdir -p "$work/$t" "fuzz/corpus/$t"
  log="$work/$t.log"
  # Regression first: every stored input once.
  if ! build-fuzz/fuzz/fuzz_$t -runs=0 "fuzz/corpus/$t" >"$log.seeds" 2>&1; then
    echo "fuzz_$t: a corpus input fails"; tail -30 "$log.seeds"; exit 1
  fi
  if ! build-fuzz/fuzz/fuzz_$t -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix=build-fuzz/findings/"$t"- "$work/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    echo "fuzz_$t: FINDING"; tail -40 "$log"; ls build-fuzz/findings; exit 1
  fi
  runs=$(awk '/stat::number_of_executed_units/{print $2}' "$log")
  total=$((total + runs))
  echo "fuzz_$t: $runs inputs in ${secs}s, no finding"
done
echo "fuzz: $total inputs in all, no finding"
