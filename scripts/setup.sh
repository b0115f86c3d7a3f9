#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages.txt that are not installed yet, then
# fetches the pinned third-party parts into deps/ (scripts/fetch-deps.sh).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

mapfile -t wanted < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$here/packages.txt" | grep -v '^$')
missing=()
for package in "${wanted[@]}"; do
    status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    as_root=(env DEBIAN_FRONTEND=noninteractive)
    if [[ "$(id -u)" != 0 ]]; then
        command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
        # sudo drops the caller's environment, so the variable goes inside the command it runs.
        as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
    fi
    echo "setup: installing ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

"$here/fetch-deps.sh"
