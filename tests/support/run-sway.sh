#!/usr/bin/env bash
# run-sway.sh DIR [CONFIG LINE...]: runs sway 1.7 headless on one 1280x800 output (HEADLESS-1) in
# the foreground, with DIR (created here, mode 0700) as its runtime directory: its Wayland socket
# is DIR/wayland-1 and its IPC socket DIR/sway-ipc.*.sock once it is ready. The extra arguments
# are lines added to its configuration. It has no bar, so no tray, and no Xwayland.
#
# sway refuses to run as root, so under root (as in CI) it runs as the ordinary user
# harkwell-sway, created here the first time, and DIR's parent must let that user through. Clients
# may stay root: they reach it through the sockets' absolute paths (WAYLAND_DISPLAY=DIR/wayland-1).
# Ends with sway; a SIGTERM ends sway.
set -euo pipefail
dir="${1:?usage: run-sway.sh DIR [CONFIG LINE...]}"
shift
user="$(id -un)"
if ((EUID == 0)); then
    user=harkwell-sway
    # Two tests creating it at once: the loser finds it made.
    id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user" ||
        id -u "$user" >/dev/null
fi
install -d -m 0700 -o "$user" "$dir"
printf '%s\n' "output HEADLESS-1 resolution 1280x800" "xwayland disable" "$@" >"$dir/config"
chmod 0644 "$dir/config"

environment=(env -i PATH=/usr/bin:/bin HOME="$dir" XDG_RUNTIME_DIR="$dir" LANG=C.UTF-8
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman)
if ((EUID == 0)); then
    exec runuser -u "$user" -- "${environment[@]}" sway -c "$dir/config"
fi
exec "${environment[@]}" sway -c "$dir/config"
