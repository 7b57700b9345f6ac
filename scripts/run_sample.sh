#!/usr/bin/env bash
# Installs what is missing, builds, and runs laplace_bench in ./run on the
# project's own sample image, or on the BMP given as the first argument.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install_deps.sh"
"$root/scripts/configure.sh" "$root/build" >&2

run=$root/run
mkdir -p "$run"
if (($#)); then
  cp -- "$1" "$run/input.bmp"
else
  "$root/build/make_sample" "$run/input.bmp"
fi
cd "$run"
status=0
"$root/build/laplace_bench" || status=$?
echo "edge image: $run/output.bmp (exit status $status)" >&2
exit "$status"
