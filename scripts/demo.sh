#!/usr/bin/env bash
# The demo: installs what is missing, builds, packs a demo firmware image and a settings file onto
# the program, then lets the packed program upgrade one simulated router at 192.168.123.254,
# headless, inside a private network namespace of its own: nothing leaves the machine. The router
# restarts after the upload and comes back with its new version, which the program waits for; a
# second run finds it current and sends nothing. Prints the program's System Log, its reports and
# its exit status, then stops everything.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${FW_DEMO_BUILD:-$here/build}
router=192.168.123.254

bash "$here/scripts/setup.sh"
echo "== building into $build"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target fwupgrade fwpack routersim

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fwpack="$build/tools/fwpack/fwpack"

echo "== packing the demo program"
# A 256 KiB demo image (a byte pattern; any bytes would do).
python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + i // 251) & 255 for i in range(262144)))' \
    >"$work/demo-firmware.bin"
# The shipped settings ride along; a command line takes precedence over them.
"$fwpack" settings -o "$work/settings.bin"
"$fwpack" create -o "$work/fwupgrade-demo" "$build/src/app/fwupgrade" \
    "$work/demo-firmware.bin:upgrade,normal,tftp,default" "$work/settings.bin:settings"
"$fwpack" list "$work/fwupgrade-demo"

# Everything below runs in a new network namespace: only lo, a default route through it, the
# router's address on it. The simulator plays the router's discovery answers, ICMP echo and web
# server on port 80, with the password the support engineer types on the command line. After the
# upload it is silent for 3 s (a restart), then answers with its new version.
inner=$(cat <<'EOF'
set -u
work=$1 build=$2 router=$3 password=$4
ip link set lo up
ip addr add "$router/32" dev lo
ip route add default dev lo src 127.0.0.1
# The simulator answers echo itself; the kernel would answer it too.
echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all 2>/dev/null || true

"$build/tools/routersim/routersim" \
    --router "$router,state=normal,romid=DEMO01,detail=V2.40,restart=3,newdetail=V2.41" \
    --web --web-options "$router:password=$password,body=$work/received.bin" \
    >"$work/sim.out" 2>"$work/sim.err" &
sim=$!
for _ in $(seq 100); do
    grep -q "routersim ready" "$work/sim.out" 2>/dev/null && break
    kill -0 "$sim" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q "routersim ready" "$work/sim.out" 2>/dev/null; then
    echo "routersim did not start:"; cat "$work/sim.err"; kill "$sim" 2>/dev/null; exit 1
fi

# The upgrade waits up to 30 s for the router to come back running V2.41.
export FWUPGRADE_HEADLESS=1 QT_QPA_PLATFORM=offscreen FWUPGRADE_VERIFY=30 FWUPGRADE_TARGET_VERSION=V2.41
echo "== FWUPGRADE_VERIFY=30 FWUPGRADE_TARGET_VERSION=V2.41 fwupgrade-demo put $router $password DEMO01"
set +e
timeout 90 "$work/fwupgrade-demo" put "$router" "$password" DEMO01 \
    >"$work/log.txt" 2>"$work/reports.txt"
status=$?
echo "-- System Log"
cat "$work/log.txt"
echo "-- reports (status lines, boxes, router list)"
cat "$work/reports.txt"
echo "-- exit status: $status"
if [ "$status" -eq 0 ]; then
    echo "== the same command again: the router is current now"
    timeout 90 "$work/fwupgrade-demo" put "$router" "$password" DEMO01 2>/dev/null | tail -n 1
    again=${PIPESTATUS[0]}
    echo "-- exit status: $again"
    [ "$again" -eq 0 ] || status=$again
fi
kill "$sim" 2>/dev/null
wait "$sim" 2>/dev/null || true
exit "$status"
EOF
)

echo "== upgrading the simulated router $router in a private network namespace"
if [ "$(id -u)" -eq 0 ]; then ns=(unshare -n); else ns=(unshare -rn); fi
set +e
timeout 150 "${ns[@]}" bash -c "$inner" demo "$work" "$build" "$router" demo123
status=$?
set -e

if [ -f "$work/received.bin" ]; then
    image=$(stat -c %s "$work/demo-firmware.bin")
    # The body is the 139-byte part header, the image, then the 8-byte end marker.
    if [ "$(stat -c %s "$work/received.bin")" -eq $((image + 147)) ] &&
        tail -c +140 "$work/received.bin" | head -c "$image" | cmp -s - "$work/demo-firmware.bin"; then
        echo "== the router received the demo image intact ($image bytes)"
    else
        echo "== the router received a body that does not hold the demo image"
        [ "$status" -ne 0 ] || status=1
    fi
else
    echo "== the router received no upload"
fi
echo "== demo finished with exit status $status"
exit "$status"
