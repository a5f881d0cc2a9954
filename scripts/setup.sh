#!/usr/bin/env bash
# Installs what the build and the tests need on Debian; safe to run again.
# --bench adds what the benchmarks compare against (sabyenc3 for bench_yenc, nzbget for
# bench_download --connections).
set -euo pipefail
pkgs=(build-essential cmake zlib1g-dev qt6-base-dev qt6-multimedia-dev libuu-dev uudeview
      libgtest-dev xvfb xauth libssl-dev openssl ca-certificates clang
      desktop-file-utils appstream dpkg-dev file par2 libarchive-dev 7zip unar libarchive-tools xdg-utils dbus-daemon openbox
      qt6-httpserver-dev qt6-websockets-dev chromium)
[ "${1:-}" = "--bench" ] && pkgs+=(python3 python3-sabyenc nzbget)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
fi
