#!/usr/bin/env bash
# One end-to-end run under valgrind memcheck: any memory error, or a block
# the program lost, fails the test.
#   valgrind_run.sh <laplace_bench> <make_sample>
set -euo pipefail
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
"$2" "$folder/input.bmp" 97 61
cd "$folder"
valgrind --quiet --error-exitcode=99 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect "$1" >/dev/null
test -s output.bmp
