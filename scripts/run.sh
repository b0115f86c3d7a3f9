#!/usr/bin/env bash
# Installs what is missing, builds Harkwell and starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"

build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build"

if [[ -x "$build/bin/harkwell" ]]; then
    exec "$build/bin/harkwell" "$@"
fi
echo "Harkwell's application is not built yet: the libraries, tests and benchmarks are in $build."
