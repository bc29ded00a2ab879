#!/bin/sh
# Builds bench_upload (Release) and runs it: the HTTP engine's upload of a 32 MiB image to the
# simulated router over loopback, against curl posting the same file to the same endpoint.
# Usage: bench/upload.sh [BUILD_DIR] [bench_upload options...]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
[ $# -gt 0 ] && shift
command -v curl >/dev/null 2>&1 || { echo "upload.sh: curl is needed as the reference" >&2; exit 3; }
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_BUILD_TESTS=OFF
fi
cmake --build "$build" --target bench_upload -j2
exec "$build/bench/bench_upload" "$@"
