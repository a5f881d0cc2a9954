#!/usr/bin/env bash
# Install, build, run every test. CI calls exactly this.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
cd build && ctest --output-on-failure -j2 --timeout 300
