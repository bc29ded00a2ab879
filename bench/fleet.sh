#!/usr/bin/env bash
# fwfleet against eight simulated routers, each taking an 8 MiB image over HTTP: wall time of
# --jobs 1 against --jobs 4, inside a private network namespace of its own (lo only, a default
# route through it, the router addresses on it; nothing leaves the machine). Fails when 4 jobs
# take more than 40 % of 1 job's time. A third run, --jobs 4 --verify 30, against eight more
# routers that restart after the upload (silent 1 s, back with a new firmware text) shows what
# the wait for them costs; it fails unless all eight end verified.
# Usage: bench/fleet.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
for t in src/app/fwupgrade tools/fwfleet/fwfleet tools/fwpack/fwpack tools/routersim/routersim; do
    [ -x "$build/$t" ] || { echo "fleet.sh: build $(basename "$t") first ($build/$t)" >&2; exit 2; }
done

if [ "$(id -u)" = 0 ]; then ns=(unshare -n); else ns=(unshare -rn); fi
exec "${ns[@]}" bash -euo pipefail -c '
    build=$0
    ip link set lo up
    ip route add default dev lo src 127.0.0.1
    echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all
    [ "$(ip -o link show | wc -l)" = 1 ] || { echo "fleet.sh: namespace not isolated" >&2; exit 2; }
    work=$(mktemp -d)
    trap "kill \$sim 2>/dev/null || true; rm -rf \"\$work\"" EXIT
    head -c $((8 * 1024 * 1024)) /dev/urandom > "$work/QR240.bin"
    "$build/tools/fwpack/fwpack" create -o "$work/packed" "$build/src/app/fwupgrade" \
        "$work/QR240.bin:upgrade,normal,romid" > /dev/null
    args=(--web)
    : > "$work/routers.txt"
    for n in 1 2 3 4 5 6 7 8; do
        a=192.168.125.$n
        ip addr add $a/32 dev lo
        args+=(--router "$a,state=normal,romid=QR240" --web-options "$a:password=pw,keepbody=0")
        echo "$a pw QR240" >> "$work/routers.txt"
    done
    : > "$work/restarting.txt"
    for n in 11 12 13 14 15 16 17 18; do
        a=192.168.125.$n
        ip addr add $a/32 dev lo
        args+=(--router "$a,state=normal,romid=QR240,detail=V2.40,restart=1,newdetail=V2.41"
               --web-options "$a:password=pw,keepbody=0")
        echo "$a pw QR240" >> "$work/restarting.txt"
    done
    "$build/tools/routersim/routersim" "${args[@]}" > /dev/null 2>&1 &
    sim=$!
    sleep 1
    declare -A wall
    for jobs in 1 4; do
        start=$(date +%s.%N)
        "$build/tools/fwfleet/fwfleet" --jobs $jobs --report "$work/report$jobs.json" \
            "$work/packed" "$work/routers.txt" | tail -n 1
        wall[$jobs]=$(awk -v a="$start" -v b="$(date +%s.%N)" "BEGIN { print b - a }")
    done
    start=$(date +%s.%N)
    "$build/tools/fwfleet/fwfleet" --jobs 4 --verify 30 --report "$work/verify.json" \
        "$work/packed" "$work/restarting.txt" | tail -n 1 || true
    wall[verify]=$(awk -v a="$start" -v b="$(date +%s.%N)" "BEGIN { print b - a }")
    verified=$(grep -c "\"state\": \"verified\"" "$work/verify.json" || true)
    percent=$(awk -v a="${wall[4]}" -v b="${wall[1]}" "BEGIN { printf \"%.0f\", 100 * a / b }")
    printf "| jobs | wall time (s) |\n|---|---|\n| 1 | %.1f |\n| 4 | %.1f |\n| 4, --verify 30 | %.1f |\n" \
        "${wall[1]}" "${wall[4]}" "${wall[verify]}"
    echo "--verify: $verified of 8 routers verified"
    printf "4 jobs take %s %% of 1 job'"'"'s wall time (at most 40 %%)\n" "$percent"
    [ "$percent" -le 40 ] && [ "$verified" = 8 ]
' "$build"
