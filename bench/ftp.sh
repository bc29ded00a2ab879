#!/usr/bin/env bash
# The FTP upgrade of one image (32 MiB by default) by the program against `curl -T` storing the
# same file, both to Debian's vsftpd as the router's FTP server. Everything runs inside a private
# network namespace of its own (lo only, the router address on it), vsftpd also in a private
# mount namespace with its own PAM configuration and account file bound over the host's (it must
# let "root" log in); nothing of the host's changes and nothing leaves the machine.
# Throughput is what vsftpd measures for each upload (its transfer log), the same for both;
# peak memory is the program's maximum resident set size from /usr/bin/time -v.
# Needs the real root (vsftpd changes users), vsftpd, curl and /usr/bin/time (scripts/setup.sh).
# Usage: bench/ftp.sh [BUILD_DIR] [--size-mib N] [--rounds N]
# Exits 1 when the program reaches less than 0.9 of curl's median throughput or its peak memory
# reaches 64 MiB, 2 when the set-up fails, 3 when something needed is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$here/build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$1; shift; fi
build=$(cd "$build" && pwd)
size_mib=32
rounds=5
while [ $# -gt 0 ]; do
    case $1 in
    --size-mib) size_mib=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    *) echo "ftp.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
for tool in /usr/sbin/vsftpd /usr/bin/time curl unshare ip; do
    command -v "$tool" >/dev/null 2>&1 || { echo "ftp.sh: $tool is needed" >&2; exit 3; }
done
for exe in src/app/fwupgrade tools/routersim/routersim; do
    [ -x "$build/$exe" ] || { echo "ftp.sh: build $exe first ($build)" >&2; exit 3; }
done
[ "$(id -u)" = 0 ] || { echo "ftp.sh: needs the real root (vsftpd changes users)" >&2; exit 3; }

if [ "${FTP_BENCH_INSIDE:-}" != 1 ]; then
    FTP_BENCH_INSIDE=1 exec unshare -n "$0" "$build" --size-mib "$size_mib" --rounds "$rounds"
fi

# --- inside the private network namespace
router=192.168.123.254
ip link set lo up
ip route add default dev lo src 127.0.0.1
ip addr add $router/32 dev lo
echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all # the simulator answers the echo
[ "$(ip -o link show | wc -l)" = 1 ] || { echo "ftp.sh: namespace not isolated" >&2; exit 2; }

tmp=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$tmp/files" "$tmp/empty" "$tmp/pam.d"
printf 'auth required pam_unix.so nodelay\naccount required pam_permit.so\nsession required pam_permit.so\n' \
    >"$tmp/pam.d/fwupgrade-bench"
# root's password "pw1" (SHA-512 crypt)
printf 'root:%s:19000:0:99999:7:::\n' \
    '$6$fwupgradetest$vrmAtCxhFKEwn01D.JeEgvmrm9xBXQ1yut3cYFI8QvnY3fJ.WarTARM3XWsPLgodEf3eOUMk3FhTjf7L2XH0.0' \
    >"$tmp/shadow"
cat >"$tmp/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
background=NO
listen_address=$router
listen_port=21
anonymous_enable=NO
local_enable=YES
write_enable=YES
local_umask=022
pam_service_name=fwupgrade-bench
userlist_enable=NO
local_root=$tmp/files
secure_chroot_dir=$tmp/empty
connect_from_port_20=NO
port_enable=YES
pasv_enable=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=YES
xferlog_std_format=NO
syslog_enable=NO
dual_log_enable=NO
vsftpd_log_file=$tmp/vsftpd.log
CONF
unshare -m --propagation private sh -c 'mount --bind "$1/pam.d" /etc/pam.d
    mount --bind "$1/shadow" /etc/shadow
    exec /usr/sbin/vsftpd "$1/vsftpd.conf"' sh "$tmp" >"$tmp/vsftpd.out" 2>&1 &
pids+=($!)
# An old-firmware router: its web login sends the program to FTP.
"$build/tools/routersim/routersim" --router "$router,state=normal,romid=ABC123" \
    --web --web-options "$router:firmware=old,password=pw1" >"$tmp/sim.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    if (exec 3<>/dev/tcp/$router/21) 2>/dev/null && grep -q "routersim ready" "$tmp/sim.out"; then
        break
    fi
    sleep 0.1
done
(exec 3<>/dev/tcp/$router/21) 2>/dev/null || { echo "ftp.sh: vsftpd did not start:" >&2; cat "$tmp/vsftpd.out" >&2; exit 2; }
grep -q "routersim ready" "$tmp/sim.out" || { echo "ftp.sh: routersim did not start" >&2; exit 2; }

image=$tmp/image.bin
head -c $((size_mib << 20)) /dev/urandom >"$image"

# The rate vsftpd logged for the last upload, in MiB/s.
last_rate() {
    grep 'OK UPLOAD' "$tmp/vsftpd.log" | tail -1 | sed -E 's/.* ([0-9.]+)Kbyte\/sec.*/\1/' |
        awk '{ printf "%.1f", $1 / 1024 }'
}
field() { grep "$1" "$2" | sed -E 's/.*: //'; }

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "FTP upload of a $size_mib MiB image to vsftpd in a private namespace, $rounds rounds"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %-10s %14s %12s %14s\n' round client "MiB/s (server)" "wall s" "peak RSS MiB"
prog_rates=() curl_rates=() prog_rss=() curl_rss=()
for r in $(seq "$rounds"); do
    rm -f "$tmp/files/"*
    if ! FWUPGRADE_HEADLESS=1 QT_QPA_PLATFORM=offscreen /usr/bin/time -v -o "$tmp/time.txt" \
        "$build/src/app/fwupgrade" put "$router" pw1 ABC123 "$image" >"$tmp/prog.out" 2>&1; then
        echo "ftp.sh: the program's upgrade failed:" >&2; cat "$tmp/prog.out" >&2; exit 2
    fi
    cmp -s "$image" "$tmp/files/image.bin" || { echo "ftp.sh: stored file differs" >&2; exit 2; }
    rate=$(last_rate)
    rss=$(awk '{ printf "%.1f", $1 / 1024 }' <<<"$(field 'Maximum resident' "$tmp/time.txt")")
    printf '%-6s %-10s %14s %12s %14s\n' "$r" fwupgrade "$rate" \
        "$(field 'Elapsed' "$tmp/time.txt")" "$rss"
    prog_rates+=("$rate") prog_rss+=("$rss")

    rm -f "$tmp/files/"*
    /usr/bin/time -v -o "$tmp/time.txt" curl -sS --ftp-port - -T "$image" \
        "ftp://root:pw1@$router/image.bin" || { echo "ftp.sh: curl failed" >&2; exit 2; }
    cmp -s "$image" "$tmp/files/image.bin" || { echo "ftp.sh: curl's file differs" >&2; exit 2; }
    rate=$(last_rate)
    rss=$(awk '{ printf "%.1f", $1 / 1024 }' <<<"$(field 'Maximum resident' "$tmp/time.txt")")
    printf '%-6s %-10s %14s %12s %14s\n' "$r" curl "$rate" "$(field 'Elapsed' "$tmp/time.txt")" \
        "$rss"
    curl_rates+=("$rate") curl_rss+=("$rss")
done
pm=$(printf '%s\n' "${prog_rates[@]}" | median)
cm=$(printf '%s\n' "${curl_rates[@]}" | median)
peak=$(printf '%s\n' "${prog_rss[@]}" | sort -g | tail -1)
ratio=$(awk -v p="$pm" -v c="$cm" 'BEGIN { printf "%.2f", (c > 0 ? p / c : 0) }')
echo "median MiB/s: fwupgrade $pm, curl $cm; ratio $ratio (target >= 0.90)"
echo "fwupgrade peak RSS: $peak MiB (target < 64)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v r="$ratio" -v m="$peak" 'BEGIN { exit (r >= 0.9 && m < 64) ? 0 : 1 }'
