#!/usr/bin/env bash
# Takes the README's screenshots offscreen: a scan and a download against the local test
# server, then the three pages of the main window and the options dialog.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
port_file=$(mktemp)
build/tools/nntpserver/vantrel-nntpd --seed 7 --yenc-only --group alt.binaries.demo:1000:400 \
    --group alt.binaries.demo.pictures:50000:300 --list-extra 400 > "$port_file" &
server=$!
trap 'kill $server 2>/dev/null; rm -f "$port_file"' EXIT
for _ in $(seq 50); do grep -q PORT "$port_file" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/PORT/{print $2}' "$port_file")
mkdir -p docs
build/src/app/vantrel-screenshot docs "$port"
ls -l docs/*.png
