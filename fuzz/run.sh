#!/usr/bin/env bash
# run.sh SECONDS [BUILD_DIR] [TARGET...]: runs each fuzz target (all *_fuzz executables in
# BUILD_DIR/fuzz, default build-fuzz) for SECONDS on a copy of its seed corpus, two at a time.
# Any crash, leak, time-out or broken rule fails the run; the input that did it is kept in
# BUILD_DIR/fuzz-findings/ and named in the output. Build first with:
#   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DFW_FUZZ=ON && cmake --build build-fuzz
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: run.sh SECONDS [BUILD_DIR] [TARGET...]}
build=${2:-$here/build-fuzz}
shift $(( $# >= 2 ? 2 : 1 ))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in "$here"/fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=suppressions=$here/scripts/lsan.supp
export QT_QPA_PLATFORM=offscreen

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=$build/fuzz-findings
mkdir -p "$findings"

run_one() {
    local name=$1 bin=$build/fuzz/$1
    local corpus=$work/$name
    mkdir -p "$corpus"
    cp "$here/fuzz/corpus/${name%_fuzz}"/* "$corpus"/ 2>/dev/null
    if [ ! -x "$bin" ]; then
        echo "$name: not built ($bin)" >"$work/$name.log"
        return 1
    fi
    # Bounded in time (the run and each input) and memory; a finding ends the run.
    "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -artifact_prefix="$findings/$name-" -print_final_stats=1 "$corpus" \
        >"$work/$name.log" 2>&1
}

status=0
pids=()
names=()
flush() {
    for i in "${!pids[@]}"; do
        if wait "${pids[$i]}"; then
            echo "fuzz ${names[$i]}: ok ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' \
                "$work/${names[$i]}.log" | grep -o '[0-9]*$') runs)"
        else
            status=1
            echo "fuzz ${names[$i]}: FAILED"
            tail -n 40 "$work/${names[$i]}.log"
        fi
    done
    pids=()
    names=()
}
for t in "${targets[@]}"; do
    run_one "$t" &
    pids+=($!)
    names+=("$t")
    [ ${#pids[@]} -ge 2 ] && flush
done
flush
exit $status
