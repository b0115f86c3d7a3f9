#!/usr/bin/env bash
# Installs what is missing, then checks formatting, builds and runs every test: the fuzzers
# for a bounded time, the tests under AddressSanitizer and UndefinedBehaviorSanitizer, under
# ThreadSanitizer, and in the normal build, warnings as errors throughout.
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
cmake --preset fuzz >/dev/null
fuzzers=(fuzz_matching fuzz_transcript fuzz_helper_output)
cmake --build build/fuzz -j "$jobs" --target "${fuzzers[@]}"
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus" "$corpus.log" "$corpus.ctest" "$corpus.release" "$corpus.tidy"' EXIT
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

# Builds a sanitizer's preset and runs every test under it: only the summary when everything
# passes; a failure's whole output otherwise.
sanitized_tests() {
    cmake --preset "$1" >/dev/null
    cmake --build "build/$1" -j "$jobs"
    if ctest --preset "$1" -j "$jobs" >"$corpus.ctest" 2>&1; then
        tail -n 4 "$corpus.ctest"
    else
        cat "$corpus.ctest"
        exit 1
    fi
}

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
sanitized_tests asan

# The Whisper-model tests run here too: whisper.cpp is built without the sanitizer, so they take
# seconds, not minutes.
echo "== Tests under ThreadSanitizer"
sanitized_tests tsan

echo "== Tests"
cmake --preset release >/dev/null
cmake --build build/release -j "$jobs"

# After the release build: clang-tidy reads its compile commands and the files it generated.
echo "== clang-tidy"
mapfile -t tidied < <(git ls-files -- 'src/*.cpp' 'helper/*.cpp' 'bench/*.cpp')
if ! printf '%s\n' "${tidied[@]}" | xargs -P "$jobs" -n 4 clang-tidy -p build/release --quiet >"$corpus.tidy" 2>&1; then
    grep -E -A3 'error:|warning:' "$corpus.tidy" >&2
    echo "clang-tidy found problems (.clang-tidy lists the checks)" >&2
    exit 1
fi
echo "clang-tidy: ${#tidied[@]} files, no findings"
ctest --preset release -j "$jobs" | tee "$corpus.release"

echo "== Package"
rm -f build/release/harkwell_*.deb
cmake --build build/release --target package >/dev/null
./scripts/package-test.sh build/release

# One closing line for the whole run: every test of the release build passed (the run stops at
# the first failure), and so did the package's check.
echo "tests: $(grep -oP 'out of \K[0-9]+' "$corpus.release") passed, 0 failed"
