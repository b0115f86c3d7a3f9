#!/usr/bin/env python3
"""Builds the detection benchmark's corpus from Debian packages only (flite, espeak-ng, sox,
pocketsphinx-testdata, the licence texts in /usr/share/common-licenses).

    bench/make_corpus.py [--out bench/corpus] [--negative-minutes 60]

Writes 16 kHz mono 16-bit WAV files and bench/corpus/manifest.jsonl (one clip a line, see
README.md, "The detection benchmark"). Deterministic: the same packages give the same corpus.
"""
import argparse
import array
import json
import math
import os
import random
import re
import subprocess
import sys
import tempfile
import wave

RATE = 16000
PHRASES = ["James", "Minsu", "Siobhan", "Dr. Kim", "Priya"]
# (text before the phrase, text after it); the phrase ends where the first part ends.
SENTENCES = [
    ("{p},", "can you come here for a second?"),
    ("Excuse me {p},", "do you have a minute?"),
    ("Could you help me with this one, {p}?", ""),
    ("Hey {p}!", ""),
    ("Sorry to bother you {p},", "the meeting is starting now."),
    ("I think {p}", "left the keys on the table."),
]
NEAR_MISSES = [
    "Jameson said the report is done.",
    "We played board games all evening.",
    "Jamie is coming over later today.",
    "The James Webb telescope took a new picture.",  # no: contains James; filtered below
    "Those games were great fun last night.",
    "Did Jameson call you back yet?",
    "Jamie and Jameson went to the game.",
    "Mister Kimball is in the other room.",
    "Doctor Kimberly will see you now.",
    "Prior to that, Minnie went for a walk.",
    "The shivering cold made us go home.",
]
FLITE_VOICES = ["slt", "rms", "awb", "kal16"]
ESPEAK_VOICES = ["en-us", "en-us+f3", "en-us+m3"]
VOICES = [("flite", v) for v in FLITE_VOICES] + [("espeak", v) for v in ESPEAK_VOICES]
LICENCES = ["GPL-3", "GPL-2", "LGPL-2.1", "MPL-2.0", "Apache-2.0", "GFDL-1.3", "Artistic"]
TESTDATA = "/usr/share/pocketsphinx/test/data"


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def read_samples(path):
    with wave.open(path, "rb") as w:
        assert w.getnchannels() == 1 and w.getsampwidth() == 2 and w.getframerate() == RATE, path
        return array.array("h", w.readframes(w.getnframes()))


def write_samples(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.tobytes())


def synthesize(engine, voice, text, path, work):
    """Speech for text, 16 kHz mono, silence trimmed from both ends."""
    raw = os.path.join(work, "raw.wav")
    if engine == "flite":
        run("flite", "-voice", voice, "-t", text, "-o", raw)
    else:
        run("espeak-ng", "-v", voice, "-s", "160", "-w", raw, text)
    run("sox", raw, "-r", str(RATE), "-c", "1", "-b", "16", path,
        "silence", "1", "0.02", "0.5%", "reverse", "silence", "1", "0.02", "0.5%", "reverse")
    return read_samples(path)


def silence(seconds):
    return array.array("h", bytes(2 * int(seconds * RATE)))


def rms(samples):
    return math.sqrt(sum(s * s for s in samples) / max(1, len(samples)))


def mixed_with_noise(samples, snr_db, seed, work):
    """The clip with pink noise at the given ratio to the speech's loudness."""
    noise_path = os.path.join(work, "noise.wav")
    seconds = len(samples) / RATE + 0.1
    run("sox", "-n", "-r", str(RATE), "-c", "1", "-b", "16", noise_path, "synth", f"{seconds:.2f}",
        "pinknoise", "vol", "0.5")
    noise = read_samples(noise_path)
    speech = [s for s in samples if abs(s) > 0]
    scale = rms(speech) / (rms(noise[: len(samples)]) * 10 ** (snr_db / 20))
    rng = random.Random(seed)
    offset = rng.randrange(0, max(1, len(noise) - len(samples)))
    out = array.array("h", samples)
    for i in range(len(out)):
        out[i] = max(-32768, min(32767, int(out[i] + noise[offset + i] * scale)))
    return out


def passages(words_each):
    for licence in LICENCES:
        with open(f"/usr/share/common-licenses/{licence}", encoding="utf-8", errors="replace") as f:
            text = re.sub(r"[^A-Za-z0-9.,;:!?'\- ]+", " ", f.read())
        words = text.split()
        for start in range(0, len(words) - words_each, words_each):
            yield " ".join(words[start:start + words_each])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus"))
    parser.add_argument("--negative-minutes", type=float, default=60)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    manifest = []
    with tempfile.TemporaryDirectory() as work:
        # Calls: every phrase, sentence and Flite voice; then the same clips in noise. eSpeak's
        # formant voices are far from a human voice (the acoustic model was trained on people):
        # half of the sentences in them, reported as conditions of their own.
        clip = 0
        for phrase in PHRASES:
            for s, (before, after) in enumerate(SENTENCES):
                for v, (engine, voice) in enumerate(VOICES):
                    if engine == "espeak" and (s + v) % 2:
                        continue
                    head = synthesize(engine, voice, before.format(p=phrase), os.path.join(work, "a.wav"), work)
                    tail = synthesize(engine, voice, after, os.path.join(work, "b.wav"), work) if after else array.array("h")
                    lead = 0.4 + 0.1 * (clip % 5)
                    samples = silence(lead) + head + silence(0.15) + tail + silence(2.5)
                    end = lead + len(head) / RATE
                    conditions = [("clean", None), ("snr20", 20), ("snr10", 10), ("snr5", 5)]
                    if engine == "espeak":
                        conditions = [("espeak-clean", None), ("espeak-snr10", 10)]
                    for condition, snr in conditions:
                        name = f"call-{clip:03d}-{condition}.wav"
                        noisy = samples if snr is None else mixed_with_noise(samples, snr, clip * 7 + snr, work)
                        write_samples(os.path.join(out, name), noisy)
                        manifest.append({"audio": name, "locale": "en-US", "phrases": [phrase],
                                         "calls": [{"phrase": phrase, "end": round(end, 3)}],
                                         "condition": condition})
                    clip += 1
        # Near misses: sounds close to the phrases, never the phrases.
        for n, text in enumerate(t for t in NEAR_MISSES if "James " not in t):
            for v, (engine, voice) in enumerate(VOICES):
                samples = silence(0.5) + synthesize(engine, voice, text, os.path.join(work, "a.wav"), work) + silence(1.5)
                name = f"near-{n:02d}-{v}.wav"
                write_samples(os.path.join(out, name), samples)
                manifest.append({"audio": name, "locale": "en-US", "phrases": PHRASES, "calls": [],
                                 "condition": "near-miss"})
        # Long passages without any phrase, read by every voice in turn.
        total = 0.0
        for n, text in enumerate(passages(120)):
            if total >= args.negative_minutes * 60:
                break
            engine, voice = VOICES[n % len(VOICES)]
            samples = synthesize(engine, voice, text, os.path.join(work, "a.wav"), work) + silence(1.0)
            name = f"passage-{n:03d}.wav"
            write_samples(os.path.join(out, name), samples)
            total += len(samples) / RATE
            manifest.append({"audio": name, "locale": "en-US", "phrases": PHRASES, "calls": [],
                             "condition": "passages"})
        # Real recorded speech.
        recordings = [os.path.join(TESTDATA, "librivox", f) for f in sorted(os.listdir(os.path.join(TESTDATA, "librivox")))
                      if f.endswith(".wav")]
        recordings += [os.path.join(TESTDATA, "cards", f) for f in sorted(os.listdir(os.path.join(TESTDATA, "cards")))
                       if f.endswith(".wav")]
        for n, path in enumerate(recordings):
            name = f"recorded-{n:02d}.wav"
            run("sox", path, "-r", str(RATE), "-c", "1", "-b", "16", os.path.join(out, name))
            manifest.append({"audio": name, "locale": "en-US", "phrases": PHRASES, "calls": [],
                             "condition": "recorded"})
        for n, raw in enumerate(["goforward.raw", "numbers.raw", "something.raw"]):
            name = f"recorded-raw-{n}.wav"
            run("sox", "-t", "raw", "-r", str(RATE), "-e", "signed", "-b", "16", "-c", "1",
                os.path.join(TESTDATA, raw), os.path.join(out, name))
            manifest.append({"audio": name, "locale": "en-US", "phrases": PHRASES, "calls": [],
                             "condition": "recorded"})
    with open(os.path.join(out, "manifest.jsonl"), "w", encoding="utf-8") as f:
        for entry in manifest:
            f.write(json.dumps(entry) + "\n")
    print(f"{len(manifest)} clips in {out}/manifest.jsonl", file=sys.stderr)


if __name__ == "__main__":
    main()
