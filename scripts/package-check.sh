#!/usr/bin/env bash
# package-check.sh BUILD: builds the Debian package from a finished build, has lintian check it
# (any error fails), installs it and runs the installed programs: `fwupgrade --version`, then a
# headless upgrade of a simulated router inside a private network namespace with a copy packed
# by the installed fwpack. Under CI=true as root the package is installed on the machine (the
# post-install step grants the capabilities, checked, and an ordinary user upgrades with the
# installed program) and purged at the end; elsewhere it is unpacked into a scratch root.
set -euo pipefail
build=$(cd "$1" && pwd)
router=192.168.123.254
password=pkg123
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/fwupgrade_${version}_$(dpkg --print-architecture).deb

work=$(mktemp -d)
installed=""
cleanup() {
    if [ -n "$installed" ]; then
        dpkg --purge fwupgrade >/dev/null || echo "package-check: could not purge fwupgrade" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" TERM INT

echo "== building $(basename "$deb")"
rm -f "$deb"
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
dpkg-deb -c "$deb" | awk '{print "   " $6}'

echo "== lintian"
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$work/lintian.txt" || true
[ "$lintian_status" -eq 0 ] || { echo "lintian reports errors"; exit 1; }

# A fwupgrade package that is already there (in any state) is left alone.
state=$(dpkg-query -W -f='${Status}' fwupgrade 2>/dev/null || true)
if [ "${CI:-}" = true ] && [ "$(id -u)" -eq 0 ] &&
    { [ -z "$state" ] || [ "${state##* }" = not-installed ]; }; then
    echo "== installing on this machine"
    installed=yes
    dpkg -i "$deb"
    root=""
    caps=$(getcap /usr/bin/fwupgrade)
    echo "$caps"
    if ! echo "$caps" | grep -q "cap_net_bind_service,cap_net_raw=ep"; then
        # Only a file system without extended attributes excuses missing capabilities.
        cp /usr/bin/fwupgrade "$work/probe" && setcap cap_net_raw+ep "$work/probe" 2>/dev/null &&
            { echo "the post-install step did not grant the capabilities"; exit 1; }
        echo "(this file system keeps no capabilities; the post-install step said why)"
    fi
else
    echo "== unpacking into a scratch root (system-wide install only as root under CI=true)"
    root=$work/root
    dpkg-deb -x "$deb" "$root"
fi
bin=$root/usr/bin

got=$("$bin/fwupgrade" --version)
[ "$got" = "fwupgrade $version" ] || { echo "fwupgrade --version printed '$got'"; exit 1; }
echo "== $bin/fwupgrade --version: $got"

python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 13 + 5) & 255 for i in range(65536)))' \
    >"$work/image.bin"
"$bin/fwpack" settings -o "$work/settings.bin" >/dev/null
"$bin/fwpack" create -o "$work/fwupgrade-pkg" "$bin/fwupgrade" \
    "$work/image.bin:upgrade,normal,tftp,default" "$work/settings.bin:settings" >/dev/null
chmod 755 "$work"
chmod 644 "$work/image.bin"

# One upgrade inside a private network namespace; $1 is the command that runs fwupgrade.
inner=$(cat <<'INNER'
set -u
work=$1 bin=$2 router=$3 password=$4; shift 4
ip link set lo up
ip addr add "$router/32" dev lo
ip route add default dev lo src 127.0.0.1
echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all
"$bin/routersim" --router "$router,state=normal,romid=PKG001,detail=Package check" \
    --web --web-options "$router:password=$password,body=$work/received.bin" \
    >"$work/sim.out" 2>"$work/sim.err" &
sim=$!
for _ in $(seq 100); do
    grep -q "routersim ready" "$work/sim.out" && break
    kill -0 "$sim" 2>/dev/null || break
    sleep 0.1
done
grep -q "routersim ready" "$work/sim.out" || { cat "$work/sim.err"; kill "$sim"; exit 1; }
FWUPGRADE_HEADLESS=1 QT_QPA_PLATFORM=offscreen timeout 60 "$@" \
    >"$work/log.txt" 2>"$work/reports.txt"
status=$?
kill "$sim" 2>/dev/null
wait "$sim" 2>/dev/null
exit $status
INNER
)

# The router must have received the image intact: 139-byte part header, image, 8-byte end.
upgrade() {
    local what=$1
    shift
    rm -f "$work/received.bin"
    local status=0
    timeout 90 unshare -n bash -c "$inner" check "$work" "$bin" "$router" "$password" "$@" ||
        status=$?
    local size
    size=$(stat -c %s "$work/image.bin")
    if [ "$status" -eq 0 ] && [ -f "$work/received.bin" ] &&
        [ "$(stat -c %s "$work/received.bin")" -eq $((size + 147)) ] &&
        cmp -s -i 139:0 -n "$size" "$work/received.bin" "$work/image.bin" &&
        ! grep -q "^box:" "$work/reports.txt"; then
        echo "== $what: upgraded, the router received the image intact"
        return 0
    fi
    echo "== $what: FAILED (exit status $status; received: $(stat -c %s "$work/received.bin" 2>&1))"
    cat "$work/log.txt" "$work/reports.txt"
    return 1
}

result=0
upgrade "the packed installed program" "$work/fwupgrade-pkg" put "$router" "$password" PKG001 ||
    result=1
if [ -n "$installed" ]; then
    # The capabilities at work: an ordinary user upgrades with every probe of the search.
    upgrade "/usr/bin/fwupgrade as nobody" setpriv --reuid=nobody --regid=nogroup --clear-groups \
        env HOME="$work" /usr/bin/fwupgrade put "$router" "$password" PKG001 "$work/image.bin" ||
        result=1
fi
exit $result
