#!/usr/bin/env bash
# Installs what is missing, builds (Release, with nvcc when the toolkit is
# there) and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/install_deps.sh"
"$root/scripts/configure.sh" "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
