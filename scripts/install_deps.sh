#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages, skipping
# the apt run when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libdevil-dev
  libgtest-dev libbenchmark-dev
  libomp-dev clang libclang-rt-14-dev
  libzstd-dev binutils valgrind
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
