#!/usr/bin/env bash
# Takes the screenshot of Harkwell on a Wayland desktop, docs/screenshots/sway-panel.png: the
# control panel as the window sway shows when there is no tray (no bar), under sway headless
# (tests/support/run-sway.sh), taken with grim. scripts/screenshots.sh runs it after the X11
# screenshots; BUILD (default build/release) holds the built harkwell.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/release}"
out="$root/docs/screenshots"

work="$(mktemp -d)"
chmod 711 "$work" # sway's own user reaches its runtime folder
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=scripts/wait-for.sh
source "$root/scripts/wait-for.sh"

"$root/tests/support/run-sway.sh" "$work/sway" >"$work/sway.log" 2>&1 &
pids+=($!)
wait_for compgen -G "$work/sway/sway-ipc.*.sock" >/dev/null
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids+=($!)
wait_for test -s "$work/bus"
mkdir -m 700 "$work/runtime"
mkdir -p "$work/config/Harkwell"
unset DISPLAY QT_QPA_PLATFORM HARKWELL_PREVIEW_CALL_HUD
export WAYLAND_DISPLAY="$work/sway/wayland-1" SWAYSOCK="$(compgen -G "$work/sway/sway-ipc.*.sock")"
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$work/bus")"
export HOME="$work" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" LANGUAGE=en

# "x y width height" of Harkwell's window in sway's tree.
panel() {
    swaymsg -t get_tree -r | /usr/bin/python3 -c '
import json, sys
def walk(node):
    if node.get("app_id") == "io.github.harkwell.Harkwell":
        r = node["rect"]
        print(r["x"], r["y"], r["width"], r["height"])
        sys.exit(0)
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))
sys.exit(1)'
}

printf '%s\n' '{"permissionSetupComplete": true, "wakePhrases": ["James", "Dr. Kim"], "hotKeyKeyCode": 40,
    "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"}' >"$work/config/Harkwell/Harkwell.json"
echo anc >"$work/airpods"
HARKWELL_AIRPODS_SIMULATOR="$work/airpods" "$build/bin/harkwell" >"$work/app.log" 2>&1 &
pids+=($!)
# Started from the launcher again, as a user does, it opens its panel (it is open already where
# Harkwell opens it at start for want of a tray).
wait_for dbus-send --session --print-reply --dest=io.github.harkwell.Harkwell /io/github/harkwell/Harkwell \
    org.freedesktop.DBus.Peer.Ping >/dev/null 2>&1
"$build/bin/harkwell"
wait_for panel >/dev/null
sleep 0.6 # the last paint
read -r x y w h <<<"$(panel)"
# The window with a margin of the desktop around it, cut to the 1280x800 screen.
x0=$((x < 24 ? 0 : x - 24)) y0=$((y < 24 ? 0 : y - 24))
x1=$((x + w + 24 > 1280 ? 1280 : x + w + 24)) y1=$((y + h + 24 > 800 ? 800 : y + h + 24))
mkdir -p "$out"
grim -g "$x0,$y0 $((x1 - x0))x$((y1 - y0))" "$out/sway-panel.png"
echo "sway-screenshots: $out/sway-panel.png"
