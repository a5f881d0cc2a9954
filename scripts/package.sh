#!/usr/bin/env bash
# Installs what is missing, builds the program alone (no tests) and makes the Debian
# package: build-package/vantrel_<version>_<arch>.deb, for `apt install ./vantrel_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DVANTREL_TESTS=OFF >/dev/null
cmake --build build-package -j"$(nproc)"
(cd build-package && cpack -G DEB)
ls -1 build-package/vantrel_*.deb
