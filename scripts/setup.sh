#!/bin/bash
# Installs the Debian packages that building and testing orvane-tsync need.
set -euo pipefail

packages=(cmake g++ ninja-build libgtest-dev libgmock-dev libbenchmark-dev
          pkgconf strace valgrind clang libclang-rt-14-dev scdoc man-db groff
          dpkg-dev fakeroot file tzdata)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
