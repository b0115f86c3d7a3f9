#!/usr/bin/env bash
# Takes the README's screenshots of the real application under Xvfb, with Openbox, a tray (trayer)
# and a compositor (xcompmgr): the permission screen, the main controls in English and in Korean
# (the language follows LANGUAGE, as on a desktop; the Korean ones listening, on a private
# PulseAudio server whose microphone hears silence), the panel after a call spoken into that
# microphone, in English and in Korean, and the call panel; then the control panel on sway
# (scripts/sway-screenshots.sh). Writes them to docs/screenshots/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/docs/screenshots"
"$root/scripts/setup.sh"

build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target harkwell ModeRelay

work="$(mktemp -d)"
pids=()
app_pid=""
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=scripts/wait-for.sh
source "$root/scripts/wait-for.sh"

# Xvfb picks a free display and writes its number once it takes connections.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for test -s "$work/display"
display=":$(head -n 1 "$work/display")"
export DISPLAY="$display" HOME="$work" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb LANGUAGE=en
unset WAYLAND_DISPLAY HARKWELL_PREVIEW_CALL_HUD
mkdir -m 700 "$work/runtime"

dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids+=($!)
wait_for test -s "$work/bus"
export DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$work/bus")"
openbox >/dev/null 2>&1 &
pids+=($!)
xcompmgr >/dev/null 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype pixel --width 120 --heighttype pixel --height 28 \
    --SetDockType true --SetPartialStrut true --tint 0xe8e8e8 --transparent true --alpha 0 >/dev/null 2>&1 &
pids+=($!)
wait_for xdotool search --class trayer >/dev/null

# The sound server listening uses: a built-in microphone that is a FIFO, fed silence in real time.
mkdir -m 700 "$work/pulse"
printf '%s\n' "load-module module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" \
    "load-module module-null-sink sink_name=speakers" \
    "load-module module-pipe-source source_name=microphone file=$work/pulse/microphone format=s16le rate=16000 channels=1 source_properties=\"device.description='Built-in Audio' device.form_factor=internal\"" \
    >"$work/pulse/server.pa"
env HOME="$work/pulse" XDG_RUNTIME_DIR="$work/pulse" PULSE_RUNTIME_PATH="$work/pulse" PULSE_STATE_PATH="$work/pulse" \
    XDG_CONFIG_HOME="$work/pulse" pulseaudio --daemonize=no --system=no --exit-idle-time=-1 --use-pid-file=no \
    --disable-shm=yes -n -F "$work/pulse/server.pa" >/dev/null 2>&1 &
pids+=($!)
wait_for test -p "$work/pulse/microphone"
export PULSE_SERVER="unix:$work/pulse/native"
# Silence, and a call in its place once "$work/speak" appears.
flite -voice slt -t "hey James, can you come here" "$work/call.wav"
sox "$work/call.wav" -t raw -r 16000 -c 1 -b 16 -e signed-integer -L "$work/call.raw"
(while :; do
    if [[ -f "$work/speak" ]]; then
        rm -f "$work/speak"
        for ((chunk = 0; chunk * 3200 < $(stat -c %s "$work/call.raw"); chunk++)); do
            dd if="$work/call.raw" bs=3200 skip=$chunk count=1 status=none
            sleep 0.1
        done
    fi
    head -c 3200 /dev/zero
    sleep 0.1
done >"$work/pulse/microphone") &
pids+=($!)

# "x y width height" of each viewable window of the application.
app_windows() {
    local id info
    for id in $(xdotool search --class harkwell 2>/dev/null); do
        info="$(xwininfo -id "$id")"
        grep -q IsViewable <<<"$info" || continue
        awk -F: '/Absolute upper-left X/ {x=$2} /Absolute upper-left Y/ {y=$2} /Width/ {w=$2} /Height/ {h=$2}
                 END {print x+0, y+0, w+0, h+0}' <<<"$info"
    done
}
window_of_size() { app_windows | awk -v w="$1" -v h="$2" '$3 == w && $4 == h {print $1, $2; exit}'; }
has_window_of_size() { [[ -n "$(window_of_size "$1" "$2")" ]]; }
tray_icon() { app_windows | awk '$2 >= 0 && $2 + $4 <= 28 && $3 < 40 {print $1 + int($3 / 2), $2 + int($4 / 2); exit}'; }
has_tray_icon() { [[ -n "$(tray_icon)" ]]; }
no_call_panel() { ! has_window_of_size 340 72; }

# start_app BUILD SETTINGS_JSON [VARIABLE=VALUE...]: starts harkwell with fresh settings.
start_app() {
    local build="$1" settings="$2"
    shift 2
    rm -rf "$work/config"
    mkdir -p "$work/config/Harkwell"
    [[ -n "$settings" ]] && printf '%s\n' "$settings" >"$work/config/Harkwell/Harkwell.json"
    env XDG_CONFIG_HOME="$work/config" QT_LOGGING_RULES="harkwell.speech.info=true;harkwell.detection.info=true" "$@" "$build/bin/harkwell" \
        >"$work/app.log" 2>&1 &
    app_pid=$!
}
stop_app() {
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

# shot NAME X Y WIDTH HEIGHT, cut to the screen
shot() {
    local x=$(($2 < 0 ? 0 : $2)) y=$(($3 < 0 ? 0 : $3))
    local w=$(($2 + $4 - x)) h=$(($3 + $5 - y))
    w=$((x + w > 1280 ? 1280 - x : w))
    h=$((y + h > 800 ? 800 - y : h))
    sleep 0.6 # the last paint and, for the call panel, the end of its slide-in
    scrot --overwrite --autoselect "$x,$y,$w,$h" "$out/$1.png"
    echo "screenshots: $out/$1.png"
}

# controls_shot NAME SETTINGS_JSON LANGUAGE [listening|call]: the control panel opened from the
# tray icon, with the tray in the picture; with "listening", Call Detection switched on once the
# accurate recogniser's model is loaded; with "call", a call heard then too, once the call panel
# has gone.
controls_shot() {
    local name="$1" settings="$2" language="$3" listening="${4:-}"
    echo anc >"$work/airpods"
    start_app "$build" "$settings" HARKWELL_AIRPODS_SIMULATOR="$work/airpods" LANGUAGE="$language"
    wait_for has_tray_icon
    [[ -z "$listening" ]] || wait_for grep -q "recognition model loaded" "$work/app.log"
    read -r ix iy <<<"$(tray_icon)"
    xdotool mousemove "$ix" "$iy" click 1
    wait_for has_window_of_size 420 600
    read -r px py <<<"$(window_of_size 420 600)"
    if [[ -n "$listening" ]]; then
        xdotool mousemove $((px + 383)) $((py + 69)) click 1 mousemove "$ix" "$iy" # the Call Detection switch
    fi
    if [[ "$listening" == call ]]; then
        touch "$work/speak"
        wait_for grep -q "Detected" "$work/app.log"
        sleep 1
        wait_for no_call_panel
    fi
    shot "$name" $((px - 24)) 0 $((1280 - px + 24)) $((py + 600 + 24))
    stop_app
}

mkdir -p "$out"

# First launch: the panel opens by itself and the permission check is under way (the simulated
# AirPods are a pipe that nobody writes, so the Bluetooth step waits).
mkfifo "$work/airpods-waiting"
xdotool mousemove 1240 14
start_app "$build" "" HARKWELL_AIRPODS_SIMULATOR="$work/airpods-waiting"
wait_for has_window_of_size 420 600
read -r px py <<<"$(window_of_size 420 600)"
shot permission-setup $((px - 24)) 0 $((1280 - px + 24)) $((py + 600 + 24))
stop_app

settings_en='{"permissionSetupComplete": true, "wakePhrases": ["James", "Dr. Kim", "Professor Maximilian Montgomery-Worthington"], "hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"}'
settings_ko='{"permissionSetupComplete": true, "wakePhrases": ["민수", "팀장님", "김 대표님"], "hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"}'
controls_shot controls-en "$settings_en" en
controls_shot controls-ko "$settings_ko" ko listening
settings_calls='{"permissionSetupComplete": true, "wakePhrases": ["James", "Dr. Kim"], "returnAfterQuietSeconds": 60}'
controls_shot calls-en "$settings_calls" en call
controls_shot calls-ko "$settings_calls" ko call

# The call panel of the preview, over a window so that its translucency shows.
xdotool mousemove 640 400
start_app "$build" "" HARKWELL_PREVIEW_CALL_HUD=1
wait_for has_window_of_size 340 72
read -r hx hy <<<"$(window_of_size 340 72)"
shot call-panel $((hx - 30)) $((hy - 22)) 400 130
stop_app

# The control panel on a Wayland desktop.
"$root/scripts/sway-screenshots.sh" "$build"
