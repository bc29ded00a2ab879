#!/bin/sh
# Builds bench_extract (Release) and runs it: package extraction with the digest check against
# cp followed by sha256sum of the same bytes; ends with the ratio and the peak RSS.
# Usage: bench/extract.sh [BUILD_DIR] [bench_extract options...]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
[ $# -gt 0 ] && shift
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_BUILD_TESTS=OFF
fi
cmake --build "$build" --target bench_extract -j2
exec "$build/bench/bench_extract" "$@"
