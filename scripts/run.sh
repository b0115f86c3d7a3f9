#!/usr/bin/env bash
# Installs what is missing, builds Harkwell (the application, its helper and the speech model) and
# starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"

cmake --preset release -S "$root" >/dev/null
cmake --build "$root/build/release" --target harkwell ModeRelay harkwell_whisper_model
exec "$root/build/release/bin/harkwell" "$@"
