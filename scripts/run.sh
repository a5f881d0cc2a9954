#!/usr/bin/env bash
# Install what is missing, build, start the program.
#   --demo   also start the local test server and point a demo folder's settings at it
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ "${1:-}" = "--demo" ]; then
  shift
  demo=build/demo
  mkdir -p "$demo"
  cp build/src/app/vantrel "$demo/vantrel"
  build/tools/nntpserver/vantrel-nntpd --seed 7 --group alt.binaries.demo:1000:3000 \
      --group alt.binaries.demo.pictures:50000:2000 --list-extra 20000 > "$demo/server.port" &
  server=$!
  trap 'kill $server 2>/dev/null' EXIT
  for _ in $(seq 50); do grep -q PORT "$demo/server.port" 2>/dev/null && break; sleep 0.1; done
  port=$(awk '/PORT/{print $2}' "$demo/server.port")
  if [ ! -f "$demo/VANTREL.INI" ]; then
    printf '[Options]\r\nNews_Host=127.0.0.1\r\nNews_Port=%s\r\nchkEnableLogging=1\r\n' "$port" > "$demo/VANTREL.INI"
  else
    sed -i "s/^News_Port=.*/News_Port=$port\r/" "$demo/VANTREL.INI"
  fi
  [ -f "$demo/favs.txt" ] || printf 'alt.binaries.demo,0,False,1\r\nalt.binaries.demo.pictures,0,False,2\r\n' > "$demo/favs.txt"
  "$demo/vantrel" "$@"
  exit 0
fi
exec build/src/app/vantrel "$@"
