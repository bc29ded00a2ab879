#!/usr/bin/env bash
# Runs bench_search inside a private network namespace of its own: lo only, a default route
# through it, the router address on it, the kernel's ICMP echo off (the simulator answers).
# Nothing leaves the machine. Usage: bench/search.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
bench="$build/bench/bench_search"
[ -x "$bench" ] || { echo "search.sh: build bench_search first ($bench)" >&2; exit 2; }

if [ "$(id -u)" = 0 ]; then ns=(unshare -n); else ns=(unshare -rn); fi
exec "${ns[@]}" bash -euo pipefail -c '
    ip link set lo up
    ip route add default dev lo src 127.0.0.1
    ip addr add 192.168.123.254/32 dev lo
    echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all
    [ "$(ip -o link show | wc -l)" = 1 ] || { echo "search.sh: namespace not isolated" >&2; exit 2; }
    ip route | grep -qv "dev lo" && { echo "search.sh: route off lo" >&2; exit 2; }
    exec "$0"
' "$bench"
