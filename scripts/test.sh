#!/usr/bin/env bash
# Install, build, run every test.
#   --sanitize   the whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#                (no recovery) in build-asan/, and run there
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
if [ "${1:-}" = "--sanitize" ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
      -DVANTREL_SANITIZE=ON -DVANTREL_BENCH=OFF >/dev/null
  cmake --build build-asan -j"$(nproc)"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
  export LSAN_OPTIONS="suppressions=$PWD/.ci/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  cd build-asan && ctest --output-on-failure -j2 --timeout 600
  exit 0
fi
bash scripts/build.sh
cd build && ctest --output-on-failure -j2 --timeout 300
