#!/usr/bin/env python3
"""Writes the fuzzers' inputs into the folder given: small/ holds the seeds kept in
tests/fuzz/seeds, the corpus that the fuzzers mutate; large/ holds inputs made here rather than
stored (100 kB phrases and transcripts, combining-mark storms, ill-formed UTF-8, control
characters), which each fuzzer runs once as they are."""
import pathlib
import shutil
import sys

small = pathlib.Path(sys.argv[1]) / "small"
large = pathlib.Path(sys.argv[1]) / "large"
small.mkdir(parents=True, exist_ok=True)
large.mkdir(parents=True, exist_ok=True)
for seed in (pathlib.Path(__file__).parent / "seeds").iterdir():
    shutil.copy(seed, small / seed.name)

generated = {
    "long-english": ("hey james " * 10000).encode() + b"\0" + ("James " * 17000).encode(),
    "long-korean": ("민수 야 " * 8000).encode() + b"\0" + ("민수" * 17000).encode(),
    "combining-storm": ("e" + "\u0301" * 20000).encode() + b"\0" + ("a\u0308" * 5000).encode(),
    "ill-formed": b"\xff\xfe\xc3\x28\xa0\xa1\xe2\x28\xa1\xf0\x28\x8c\xbc" * 2000 + b"\0james",
    "controls": bytes(range(1, 32)) * 500 + b"\0" + "\u2028\u0085\r\n".encode() * 500,
    "emoji": ("👨‍👩‍👧‍👦🏳️‍🌈" * 3000).encode() + b"\0" + "👋🏽".encode() * 100,
}
for name, data in generated.items():
    (large / name).write_bytes(data)
