#!/usr/bin/env bash
# Checks the Debian package in BUILD (default build/release): lintian finds no error, its control
# fields name what runs it on Wayland desktops, it carries the Whisper model, and the packaged
# program runs: `harkwell --version`, the call-panel preview under Xvfb and in a Wayland session
# (sway, headless), and a running Harkwell that finds its helper in libexec/harkwell beside its bin
# (a `--toggle-mode` switches the simulated AirPods). With CI=true the package is installed with
# apt-get and removed afterwards; elsewhere it is unpacked into a temporary root and the system is
# left untouched.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/release}"

shopt -s nullglob
debs=("$build"/harkwell_*_amd64.deb)
if ((${#debs[@]} != 1)); then
    echo "package-test: expected one harkwell_*_amd64.deb in $build, found ${#debs[@]}" >&2
    exit 1
fi
deb="${debs[0]}"

echo "lintian $(basename "$deb")"
# Root is fine for inspecting a package file.
lintian --allow-root --fail-on error "$deb"

fail() { echo "package-test: $*" >&2; exit 1; }

# FIELD PACKAGE: the control field lists the package (alone or among alternatives).
control_lists() {
    dpkg-deb -f "$deb" "$1" | tr ',|' '\n\n' | sed -E 's/^ *([^ (]+).*/\1/' | grep -qx "$2" ||
        fail "$1 of $(basename "$deb") does not list $2: $(dpkg-deb -f "$deb" "$1")"
}
control_lists Depends qt6-wayland
control_lists Recommends xdg-desktop-portal
control_lists Suggests gnome-shell-extension-appindicator
echo "control fields: Depends qt6-wayland, Recommends xdg-desktop-portal, Suggests gnome-shell-extension-appindicator"

work="$(mktemp -d)"
pids=()
installed=""
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if [[ -n "$installed" ]]; then
        apt-get remove -y -qq harkwell >/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

if [[ "${CI:-}" == "true" ]]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$(realpath "$deb")" >/dev/null
    installed=yes
    harkwell=/usr/bin/harkwell
    model=/usr/share/harkwell/ggml-whisper-base.bin
    [[ -x /usr/libexec/harkwell/ModeRelay ]] || { echo "package-test: no /usr/libexec/harkwell/ModeRelay" >&2; exit 1; }
else
    dpkg-deb -x "$deb" "$work/root"
    harkwell="$work/root/usr/bin/harkwell"
    model="$work/root/usr/share/harkwell/ggml-whisper-base.bin"
fi

# Polls a command until it succeeds, for up to 20 seconds.
wait_for() {
    for _ in $(seq 200); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

# The converted Whisper base model: about 82 MB, a truncated one is far smaller.
[[ -f "$model" ]] || fail "no $model"
model_size="$(stat -c %s "$model")"
((model_size > 75 * 1000 * 1000)) || fail "$model has only $model_size bytes"
echo "Whisper model: $model_size bytes"

version="$("$harkwell" --version)"
[[ "$version" == "harkwell "* ]] || fail "--version printed '$version'"
echo "$harkwell --version: $version"

# A display, a session bus and simulated AirPods of the test's own.
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for test -s "$work/display" || fail "Xvfb did not start"
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" >/dev/null 2>&1 &
pids+=($!)
wait_for test -s "$work/bus" || fail "dbus-daemon did not start"
mkdir -m 700 "$work/runtime" "$work/config"
export DISPLAY=":$(head -n 1 "$work/display")" DBUS_SESSION_BUS_ADDRESS="$(head -n 1 "$work/bus")"
export XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" HOME="$work" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

# The call-panel preview shows its panel.
HARKWELL_PREVIEW_CALL_HUD=1 "$harkwell" >/dev/null 2>&1 &
preview=$!
pids+=($preview)
wait_for xdotool search --onlyvisible --class harkwell >/dev/null || fail "the call-panel preview showed no window"
kill "$preview" 2>/dev/null || true
echo "call-panel preview: shown"

# A running Harkwell toggles the simulated AirPods through its packaged helper.
mkdir -p "$work/config/Harkwell"
echo '{"permissionSetupComplete": true, "wakePhrases": ["James"]}' >"$work/config/Harkwell/Harkwell.json"
echo anc >"$work/airpods"
HARKWELL_AIRPODS_SIMULATOR="$work/airpods" "$harkwell" >/dev/null 2>&1 &
pids+=($!)
# A switch asked for while the start-up read of the AirPods' mode still runs is dropped, and on a
# busy machine that read (beside the speech model's) can take seconds: ask again while nothing changed.
toggled=""
for _ in 1 2 3 4 5; do
    wait_for "$harkwell" --toggle-mode 2>/dev/null || fail "the running Harkwell did not take --toggle-mode"
    for _ in $(seq 50); do
        if grep -qx transparency "$work/airpods"; then toggled=yes; break 2; fi
        sleep 0.1
    done
done
[[ -n "$toggled" ]] || fail "the AirPods stayed '$(cat "$work/airpods")'"
echo "toggle through the packaged helper: anc -> transparency"

# The call-panel preview in a Wayland session: with no X display and no platform forced, Qt runs
# on its own Wayland platform, shows the call and ends by itself.
chmod 711 "$work" # sway's own user reaches its runtime folder
"$root/tests/support/run-sway.sh" "$work/sway" >"$work/sway.log" 2>&1 &
pids+=($!)
wait_for test -S "$work/sway/wayland-1" || fail "sway did not start: $(cat "$work/sway.log")"
unset DISPLAY QT_QPA_PLATFORM
export WAYLAND_DISPLAY="$work/sway/wayland-1" XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway
mako >/dev/null 2>&1 &
pids+=($!)
HARKWELL_PREVIEW_CALL_HUD=1 timeout 30 "$harkwell" >"$work/wayland.log" 2>&1 ||
    fail "the preview under sway ended with $?: $(cat "$work/wayland.log")"
echo "call-panel preview under sway (Qt's Wayland platform): ended by itself"
echo "package-test: passed"
