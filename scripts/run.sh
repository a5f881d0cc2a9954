#!/usr/bin/env bash
# Install, build, start the program. With --demo a local test server is started and
# the first-run set-up points at it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
exec build/src/app/vantrel "$@"
