#!/usr/bin/env bash
# shoot-message.sh [BUILD_DIR]: renders the sample message window and saves it as
# docs/message-window.png. Uses Qt's offscreen platform; no display is needed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
[ -f "$build/build.ninja" ] || cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target message_screenshot_test -j2
QT_QPA_PLATFORM=offscreen FW_SHOT_PATH="$here/docs/message-window.png" \
    "$build/tests/message_screenshot_test"
echo "saved $here/docs/message-window.png"
