#!/usr/bin/env bash
# Takes the README's screenshots from a real window: the program on Xvfb (1600x1000) with a
# window manager, a scan and a download over four connections against the local test
# server, then the three pages of the main window (during the download) and the dialogs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
work=$(mktemp -d)
build/tools/nntpserver/vantrel-nntpd --seed 7 --yenc-only --part-bytes 200000 --group alt.binaries.demo:1000:400 \
    --group alt.binaries.demo.pictures:50000:300 --list-extra 400 --rate 250000 > "$work/port" &
server=$!
Xvfb -displayfd 1 -screen 0 1600x1000x24 -nolisten tcp > "$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $server $xvfb ${wm:-} 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do grep -q PORT "$work/port" 2>/dev/null && [ -s "$work/display" ] && break; sleep 0.1; done
port=$(awk '/PORT/{print $2}' "$work/port")
export DISPLAY=":$(head -1 "$work/display")" XDG_RUNTIME_DIR="$work"
unset QT_QPA_PLATFORM
openbox & wm=$!
mkdir -p docs
build/src/app/vantrel-screenshot --screen docs "$port"
ls -l docs/*.png
