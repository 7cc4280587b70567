#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need. Safe to run again.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
          nlohmann-json3-dev qt6-base-dev libgtest-dev libgmock-dev
          xvfb xauth jq
          dpkg-dev file man-db groff-base desktop-file-utils lintian appstream bash-completion
          ser2net libgensio-dev libwrap0-dev libssl-dev openssl python3-labgrid valgrind
          python3-dev pybind11-dev python3-pytest pdudaemon libudev-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
