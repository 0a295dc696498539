#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need.
# Works as root and through sudo; installs nothing that is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git time
  clang libclang-rt-14-dev libc++-14-dev libc++abi-14-dev
  libgtest-dev libgmock-dev
  nlohmann-json3-dev libssl-dev libgtk-3-dev libx11-dev
  libarchive-dev libplist-dev libutf8proc-dev
  xvfb xdotool x11-utils imagemagick
  gobjc++ libgnustep-gui-dev gnustep-make gnustep-back0.29
  zip unzip python3 libarchive-tools openssl util-linux procps time strace
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
