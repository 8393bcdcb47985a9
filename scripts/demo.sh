#!/usr/bin/env bash
# The demo: builds everything, makes sample images, starts four simulated phones and downloads
# to them. With a display it opens the window (press Port Search, then Download); without one,
# or with --cli, the command line does the download and prints its progress.
#   scripts/demo.sh [--cli] [--phones N] [--baud B]
set -euo pipefail
cd "$(dirname "$0")/.."

mode=auto
phones=4
baud=57600
while [ $# -gt 0 ]; do
    case "$1" in
        --cli) mode=cli ;;
        --phones) phones="$2"; shift ;;
        --baud) baud="$2"; shift ;;
        *) echo "usage: $0 [--cli] [--phones N] [--baud B]" >&2; exit 2 ;;
    esac
    shift
done

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target tarnflow tarnflow-cli tarnflow-phonesim tarnflow-sample-images

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo/images" "$demo/devices" "$demo/flash"
build/bin/tarnflow-sample-images "$demo/images" 96 >/dev/null

build/bin/tarnflow-phonesim --phones "$phones" --device-map "$demo/devices" --baud "$baud" \
    --flash-out "$demo/flash" &
sim=$!
trap 'kill -TERM $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [ "$(find "$demo/devices" -maxdepth 1 -type l | wc -l)" -ge "$phones" ] && break
    sleep 0.1
done

export TARNFLOW_DEVICE_MAP="$PWD/$demo/devices"
export TARNFLOW_CONFIG="$PWD/$demo/registry.ini"
printf '[SOFTWARE\\ORVENNA\\TARNFLOW]\nNEW_PHONE_BIN_PATH=%s/\n' "$PWD/$demo/images" > "$TARNFLOW_CONFIG"

if [ "$mode" = auto ] && [ -x build/bin/tarnflow ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
    echo "Simulated phones are in $demo/devices; images in $demo/images."
    echo "In the window: Code...(NEW) -> phone-code.bin, Port Search, Download."
    build/bin/tarnflow
else
    build/bin/tarnflow-cli --code "$demo/images/phone-code.bin" --search --yes \
        --json "$demo/report.json"
    echo "Report: $demo/report.json"
fi
