#!/usr/bin/env bash
# Configures and builds into the given folder (default: build). nvcc is found
# on PATH or in the toolkit's standard place; without it the GPU path builds
# for the host stand-in only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true

if [[ -z "${CUDACXX:-}" ]] && ! command -v nvcc >/dev/null; then
  for nvcc in /usr/local/cuda/bin/nvcc /usr/local/cuda-*/bin/nvcc; do
    if [[ -x $nvcc ]]; then export CUDACXX=$nvcc; break; fi
  done
fi

cmake -S "$root" -B "$build" "$@"
cmake --build "$build" -j "$(nproc)"
