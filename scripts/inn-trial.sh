#!/usr/bin/env bash
# A real news server to try the program against as a user would: installs Debian's inn2
# (as root), gives it the domain it needs, starts it on port 119, creates the group and
# posts files made of random bytes with uuenview (yEnc, and one uuencoded), keeping their
# checksums beside them.
#   bash scripts/inn-trial.sh [GROUP] [FILES] [MB]     defaults: alt.binaries.vantrel 10 3
# Then point the program at 127.0.0.1:119, scan GROUP, and compare the decoded files with
# /tmp/inn-trial/sums. Not used by the tests, which run their own server.
set -euo pipefail
group=${1:-alt.binaries.vantrel}
files=${2:-10}
mb=${3:-3}
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo

if ! dpkg-query -W -f='${Status}' inn2 2>/dev/null | grep -q "install ok installed"; then
  $SUDO apt-get update -q
  # Its set-up fails until inn.conf names a domain; it is finished below.
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q inn2 || true
fi
$SUDO sed -i 's/^#domain:.*/domain: localdomain/; s/^#server:.*/server: localhost/' /etc/news/inn.conf
$SUDO dpkg --configure -a
pgrep -x innd > /dev/null || $SUDO su news -s /bin/sh -c /usr/lib/news/bin/rc.news
for _ in $(seq 1 50); do $SUDO /usr/lib/news/bin/ctlinnd mode > /dev/null 2>&1 && break; sleep 0.2; done
$SUDO /usr/lib/news/bin/ctlinnd newgroup "$group" y > /dev/null 2>&1 || true

out=/tmp/inn-trial
mkdir -p "$out"
cd "$out"
for i in $(seq 1 "$files"); do
  head -c $((mb * 1000000 + i * 777)) /dev/urandom > "post$i.bin"
  uuenview -y -5000 -p "$group" "post$i.bin" > /dev/null
done
head -c 400000 /dev/urandom > classic.bin
uuenview -u -3000 -p "$group" classic.bin > /dev/null
md5sum ./*.bin > sums
echo "Posted $files file(s) of about $mb MB and classic.bin to $group on 127.0.0.1:119; checksums in $out/sums"
