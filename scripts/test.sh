#!/usr/bin/env bash
# Sets up a fresh machine, then builds and runs the whole suite twice: a normal build, and one
# with AddressSanitizer and UndefinedBehaviorSanitizer (any report fails the run). After the normal
# build, the Debian package is built, checked by lintian, installed and run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Qt's own one-time allocations are not ours to chase.
export LSAN_OPTIONS=suppressions=$here/scripts/lsan.supp

status=0
echo "== normal build"
bash "$here/scripts/build.sh" "$here/build"
(cd "$here/build" && ctest --output-on-failure -j2) || status=1

echo "== Debian package"
timeout 300 bash "$here/scripts/package-check.sh" "$here/build" || status=1

echo "== sanitizer build"
bash "$here/scripts/build.sh" "$here/build-asan" -DFW_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd "$here/build-asan" && ctest --output-on-failure -j2) || status=1
exit $status
