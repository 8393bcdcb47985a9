#!/usr/bin/env bash
# The window's pictures in docs/: a download to four simulated phones, taken on a real X server
# (Xvfb at 96 dpi) with a window manager (openbox), so that the title bar is in the picture,
# once on a 1366 x 768 screen and once on a 1920 x 1080 one.
#   scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."

tools=(Xvfb openbox xdotool import)
packages=(xvfb openbox xdotool imagemagick)
for tool in "${tools[@]}"; do
    if ! command -v "$tool" >/dev/null; then
        apt-get install -y --no-install-recommends "${packages[@]}"
        break
    fi
done
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target tarnflow tarnflow-phonesim tarnflow-sample-images

work=$(mktemp -d)
pids=()
stop_all() {
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    pids=()
}
trap 'stop_all; rm -rf "$work"' EXIT

build/bin/tarnflow-sample-images "$work/images" 96 >/dev/null

shoot() {
    local size=$1 display=$2
    local run="$work/$size"
    mkdir -p "$run/devices" "$run/flash"
    if [ -e "/tmp/.X$display-lock" ]; then
        echo "display :$display is taken" >&2
        exit 1
    fi
    Xvfb ":$display" -screen 0 "${size}x24" -dpi 96 -nolisten tcp &
    pids+=($!)
    export DISPLAY=":$display"
    for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
    openbox &
    pids+=($!)
    sleep 1  # a window mapped while the window manager starts may stay unmanaged
    build/bin/tarnflow-phonesim --phones 4 --device-map "$run/devices" --baud 57600 \
        --flash-out "$run/flash" &
    pids+=($!)
    for _ in $(seq 100); do
        [ "$(find "$run/devices" -maxdepth 1 -type l | wc -l)" -ge 4 ] && break
        sleep 0.1
    done
    export TARNFLOW_DEVICE_MAP="$run/devices" TARNFLOW_CONFIG="$run/registry.ini"
    export TARNFLOW_HISTORY="$run/history.jsonl"
    printf '[SOFTWARE\\ORVENNA\\TARNFLOW]\nNEW_PHONE_BIN_PATH=%s/\n' "$work/images" >"$run/registry.ini"
    build/bin/tarnflow &
    pids+=($!)
    local window dialog
    window=$(timeout 60 xdotool search --sync --onlyvisible --name "Compare_Tarnflow")
    sleep 2  # the window manager frames and places the window
    # Clicks at the controls' places in dialog units, square for the packaged font: Code...(NEW),
    # the image's name in the file dialog, Port Search, Download.
    eval "$(xdotool getwindowgeometry --shell "$window")"
    local unit_height=$HEIGHT
    click() { xdotool mousemove --window "$window" $(($1 * unit_height / 545)) $(($2 * unit_height / 545)) click 1; }
    click 42 26
    for _ in $(seq 50); do
        dialog=$(xdotool search --name "^Open$" || true)
        [ -n "$dialog" ] && break
        sleep 0.1
    done
    sleep 0.5
    xdotool type --window "$dialog" --delay 100 "phone-code.bin"
    sleep 1
    # The first Return may only take the name completer's suggestion.
    for _ in 1 2; do
        xdotool search --name "^Open$" >/dev/null || break
        xdotool key Return
        sleep 1
    done
    click 492 84
    sleep 1.5
    click 492 37
    sleep 7
    import -window root "docs/tarnflow-$size.png"
    stop_all
}

shoot 1366x768 91
shoot 1920x1080 92
echo "docs/tarnflow-1366x768.png docs/tarnflow-1920x1080.png"
