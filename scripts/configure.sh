#!/usr/bin/env bash
# Configures and builds into the given folder (default: build). CMake finds
# nvcc on PATH, through CUDACXX, or in /usr/local/cuda; without it the GPU path
# builds for the host stand-in only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true

cmake -S "$root" -B "$build" "$@"
cmake --build "$build" -j "$(nproc)"
