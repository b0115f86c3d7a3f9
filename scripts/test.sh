#!/usr/bin/env bash
# Installs what is missing, then checks formatting, builds and runs every test: the fuzzers
# for a bounded time, the tests under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# tests in the normal build, warnings as errors throughout.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
"$root/scripts/setup.sh"

jobs="$(nproc)"
fuzz_seconds="${HARKWELL_FUZZ_SECONDS:-20}"

echo "== Formatting"
mapfile -t sources < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"

echo "== Fuzzing (${fuzz_seconds} s a target)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHARKWELL_FUZZ=ON \
    -DHARKWELL_WERROR=ON -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null
fuzzers=(fuzz_matching fuzz_transcript fuzz_helper_output)
cmake --build build/fuzz -j "$jobs" --target "${fuzzers[@]}"
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus" "$corpus.log"' EXIT
python3 tests/fuzz/make_seeds.py "$corpus"
for fuzzer in "${fuzzers[@]}"; do
    if ! build/fuzz/bin/"$fuzzer" -max_total_time="$fuzz_seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        "$corpus/small" >"$corpus.log" 2>&1 ||
        ! build/fuzz/bin/"$fuzzer" -timeout=30 -rss_limit_mb=2048 "$corpus"/large/* >>"$corpus.log" 2>&1; then
        tail -n 60 "$corpus.log" >&2
        echo "$fuzzer found a fault" >&2
        exit 1
    fi
    echo "$fuzzer: $(grep -E '^Done' "$corpus.log")"
done

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHARKWELL_SANITIZE=ON -DHARKWELL_WERROR=ON \
    -DHARKWELL_BENCHMARKS=OFF >/dev/null
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan -j "$jobs" --output-on-failure --timeout 300 | tail -n 4

echo "== Tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DHARKWELL_WERROR=ON >/dev/null
cmake --build build/release -j "$jobs"
ctest --test-dir build/release -j "$jobs" --output-on-failure --timeout 300
