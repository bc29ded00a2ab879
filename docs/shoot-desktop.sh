#!/usr/bin/env bash
# shoot-desktop.sh [BUILD_DIR]: runs the packed program on a real X server (Xvfb) with a window
# manager (openbox), inside a private network namespace with simulated routers, drives it with
# xdotool as a person would and saves docs/main-window.png, docs/search-window.png,
# docs/message-window.png and docs/progress-window.png. Needs root (or unshare -rn) and the
# desktop tools of scripts/setup.sh. Nothing leaves the machine.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=${FW_SHOT_DIR:-$here/docs}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fwpack="$build/tools/fwpack/fwpack"

python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + i // 251) & 255 for i in range(3000000)))' \
    >"$work/QR240_v2.40.bin"
head -c 2000000 "$work/QR240_v2.40.bin" >"$work/QR240_boot.bin"
for part in lang web dsp; do head -c 1000000 "$work/QR240_v2.40.bin" >"$work/QR240_$part.bin"; done
cat >"$work/note.rtf" <<'EOF'
{\rtf1\ansi{\fonttbl{\f0 Arial;}}{\colortbl;\red200\green0\blue0;\red0\green0\blue160;}
\f0\fs28\cf1\b Please read before the upgrade\b0\par\fs22\cf2
Keep the router powered and connected until the program says the upgrade is complete.\par
The router restarts by itself when the new firmware is in place.\par}
EOF
"$fwpack" message -o "$work/note.msg" --text "$work/note.rtf" --name QEMO-note \
    --caption "Important" --live-time 0 --no-blink --mode1 1 --mode2 1 --colour 0xE0F8FF >/dev/null
# Every probe, the password typed by the person, the System Log shown; FTP first.
"$fwpack" settings -o "$work/settings.bin" --flags 0xBF --method-order 2 >/dev/null
"$fwpack" create -o "$work/fwupgrade-QR240" "$build/src/app/fwupgrade" \
    "$work/QR240_boot.bin:upgrade,normal,default,section=A" \
    "$work/QR240_v2.40.bin:upgrade,normal,default,section=B" \
    "$work/QR240_lang.bin:upgrade,normal,default,section=B" \
    "$work/QR240_web.bin:upgrade,normal,default,section=B" \
    "$work/QR240_dsp.bin:upgrade,normal,default,section=B" \
    "$work/settings.bin:settings" >/dev/null
"$fwpack" create -o "$work/fwupgrade-note" "$build/src/app/fwupgrade" \
    "$work/QR240_v2.40.bin:upgrade,normal,default" "$work/note.msg:message,default" >/dev/null

inner=$(cat <<'EOF'
set -u
work=$1 build=$2 out=$3
ip link set lo up
for a in 192.168.123.254 192.168.2.1 192.168.200.7; do ip addr add "$a/32" dev lo; done
ip route add default dev lo src 127.0.0.1
echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all 2>/dev/null || true
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; }
trap cleanup EXIT

d=$((200 + $$ % 300))
while [ -e "/tmp/.X$d-lock" ]; do d=$((d + 1)); done
Xvfb ":$d" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
export DISPLAY=":$d"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox --sm-disable >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
xsetroot -solid '#3a6ea5' 2>/dev/null || true

"$build/tools/routersim/routersim" \
    --router "192.168.123.254,state=normal,romid=QR240,detail=V2.31" \
    --router "192.168.2.1,state=normal,romid=QR240W,detail=V2.40,delay=150" \
    --router "192.168.200.7,state=crashed" \
    --ftp --ftp-options "192.168.123.254:password=qelur,delay=STOR:900" \
    --web --web-options "192.168.123.254:password=qelur" \
    >"$work/sim.out" 2>"$work/sim.err" & pids+=($!)
for _ in $(seq 100); do grep -q "routersim ready" "$work/sim.out" 2>/dev/null && break; sleep 0.1; done

win() { # window id by its title, waiting up to 5 s
    for _ in $(seq 100); do
        w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.05
    done
    return 1
}
frame() { # frame WINDOW: X, Y, W, H of the window with the window manager's frame
    local f l r t b
    f=$(xwininfo -id "$1")
    X=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$f")
    Y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$f")
    W=$(sed -n 's/.*Width: *//p' <<<"$f")
    H=$(sed -n 's/.*Height: *//p' <<<"$f")
    read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= *//; s/,/ /g')
    X=$((X - ${l:-0})) Y=$((Y - ${t:-0})) W=$((W + ${l:-0} + ${r:-0})) H=$((H + ${t:-0} + ${b:-0}))
}
shot() { # shot WINDOW FILE [EXTRA_W EXTRA_H]: the window with its frame
    frame "$1"
    import -window root -crop "$((W + ${3:-0}))x$((H + ${4:-0}))+$X+$Y" "$2"
    [ -z "${FW_SHOT_DEBUG:-}" ] || import -window root "$2.root.png"
}

export TMPDIR=$work/tmp; mkdir -p "$TMPDIR"
"$work/fwupgrade-QR240" >"$work/run1.out" 2>&1 & app=$!; pids+=($app)
m=$(win "Firmware Upgrade  V1.1.1")
win "Searching for installed device\\(s\\)..." >/dev/null
for _ in $(seq 100); do [ -z "$(xdotool search --onlyvisible --name '^Searching' 2>/dev/null)" ] && break; sleep 0.1; done
sleep 0.5
# The detailed list open, wider than the field.
xdotool mousemove --window "$m" 236 39 click 1
sleep 0.6
shot "$m" "$out/main-window.png" 140 0
xdotool key Escape
# The first router of the list: the password, Upgrade, then the bar between the two files.
xdotool mousemove --window "$m" 170 79 click 1
xdotool type --delay 30 qelur
xdotool mousemove --window "$m" 109 119 click 1
sleep 2.2
shot "$m" "$out/progress-window.png"
sleep 5
kill "$app" 2>/dev/null
kill "${pids[2]}" 2>/dev/null # no router answers from here on

# A message window at start-up; then a search that finds nothing, seen in the middle.
"$work/fwupgrade-note" >"$work/run2.out" 2>&1 & app=$!; pids+=($app)
h=$(win "Important") && { sleep 0.4; shot "$h" "$out/message-window.png"; }
xdotool key Escape
s=$(win "Searching for installed device\\(s\\)...") && { sleep 1.4; shot "$s" "$out/search-window.png"; }
kill "$app" 2>/dev/null
EOF
)
unshare -n bash ${FW_SHOT_TRACE:+-x} -c "$inner" inner "$work" "$build" "$out"
echo "saved $out/main-window.png $out/search-window.png $out/message-window.png $out/progress-window.png"
