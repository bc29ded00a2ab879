#!/bin/sh
# Builds bench_tftp and the program (Release) and runs the benchmark inside a private network
# namespace of its own (only lo, the simulated router's address on it): the program's TFTP
# recovery of one image against tftp-hpa's client writing the same image to the same loader.
# Usage: bench/tftp.sh [BUILD_DIR] [bench_tftp options...]   (needs root or user namespaces)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
[ $# -gt 0 ] && shift
command -v tftp >/dev/null 2>&1 || { echo "tftp.sh: tftp-hpa's client is the reference" >&2; exit 3; }
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFW_BUILD_TESTS=OFF
fi
cmake --build "$build" --target bench_tftp fwupgrade -j2
inner='ip link set lo up && ip addr add 192.168.123.254/32 dev lo &&
ip route add default dev lo src 127.0.0.1 && exec "$0" "$@"'
if [ "$(id -u)" = 0 ]; then
    exec unshare -n sh -c "$inner" "$build/bench/bench_tftp" "$@"
fi
exec unshare -rn sh -c "$inner" "$build/bench/bench_tftp" "$@"
