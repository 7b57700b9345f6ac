#!/usr/bin/env bash
# Builds bmp_fuzz with clang in <build-dir> when needed, then fuzzes for
# <seconds> starting from the seeds and every input that once failed
# (regressions/). Exits non-zero on a crash, a leak, a timeout or running out
# of memory; the input that did it is left in <build-dir> as crash-*, leak-*,
# timeout-* or oom-*: once fixed, it belongs in regressions/.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 <build-dir> <seconds>" >&2
    exit 2
fi
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target bmp_fuzz -j "$(nproc)"

# New inputs go to corpus-work/, kept between runs and out of git.
mkdir -p "$here/corpus-work"
log=$build/bmp_fuzz.log
# close_fd_mask=2 silences the loader's one line per refused input; libFuzzer
# and the sanitizers still report on their own copy of stderr.
if "$build/bmp_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$build/" \
    "$here/corpus-work" "$here/seeds" "$here/regressions" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^Done' "$log" || true
    exit 0
else
    status=$?
    tail -n 60 "$log" >&2
    echo "bmp_fuzz failed (exit $status); the full log is $log" >&2
    exit "$status"
fi
