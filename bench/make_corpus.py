#!/usr/bin/env python3
"""Builds the detection benchmark's corpus from Debian packages only (flite, espeak-ng, sox,
pocketsphinx-testdata, the licence texts in /usr/share/common-licenses).

    bench/make_corpus.py [--out bench/corpus] [--negative-minutes 60] [--office-minutes 60]

Writes 16 kHz mono 16-bit WAV files and bench/corpus/manifest.jsonl (one clip a line, see
docs/benchmark.md, "The manifest"). Deterministic: the same packages give the same corpus.
"""
import argparse
import array
import functools
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
# Babble: six voices reading other texts than the passages at once, each a little faster or
# slower than the voice's own pace (so that no two sound alike), each looped on its own.
BABBLE_TALKERS = [("flite", "slt", 1.06, "MPL-1.1"), ("flite", "rms", 0.94, "Apache-2.0"),
                  ("flite", "awb", 1.0, "GFDL-1.3"), ("flite", "kal16", 1.1, "Artistic"),
                  ("espeak", "en-us+f3", 1.0, "LGPL-3"), ("espeak", "en-us+m3", 0.9, "MPL-2.0")]
BABBLE_SECONDS = 200  # each talker's loop, a few seconds longer for each further talker
# The office: near talkers (passage sentences addressed to someone else) this much louder than
# the room's distant babble, with pauses of 5 to 60 s between them; in parts of 15 minutes.
OFFICE_NEAR_OVER_BABBLE_DB = 15
OFFICE_PAUSE = (5.0, 60.0)
OFFICE_PART_MINUTES = 15
TESTDATA = "/usr/share/pocketsphinx/test/data"


def run(*command):
    if command[0] == "sox":
        command = ("sox", "-R", *command[1:])  # repeatable: noise and dither from a fixed seed
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


def synthesize(engine, voice, text, path, work, speed=1.0, words_per_minute=160, pitch=50):
    """Speech for text, 16 kHz mono, silence trimmed from both ends. words_per_minute and pitch
    (0 to 99) are eSpeak NG's."""
    raw = os.path.join(work, "raw.wav")
    if engine == "flite":
        run("flite", "-voice", voice, "-t", text, "-o", raw)
    else:
        run("espeak-ng", "-v", voice, "-s", str(words_per_minute), "-p", str(pitch), "-w", raw, text)
    run("sox", raw, "-r", str(RATE), "-c", "1", "-b", "16", path,
        "silence", "1", "0.02", "0.5%", "reverse", "silence", "1", "0.02", "0.5%", "reverse",
        *(["speed", str(speed), "rate", str(RATE)] if speed != 1.0 else []))
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
    return mixed(samples, read_samples(noise_path), snr_db, seed)


def mixed(samples, noise, snr_db, seed):
    """The clip with a stretch of the noise at the given ratio to the speech's loudness."""
    speech = [s for s in samples if abs(s) > 0]
    scale = rms(speech) / (rms(noise[: len(samples)]) * 10 ** (snr_db / 20))
    rng = random.Random(seed)
    offset = rng.randrange(0, max(1, len(noise) - len(samples)))
    out = array.array("h", samples)
    for i in range(len(out)):
        out[i] = max(-32768, min(32767, int(out[i] + noise[offset + i] * scale)))
    return out


def licence_words(licence):
    with open(f"/usr/share/common-licenses/{licence}", encoding="utf-8", errors="replace") as f:
        return re.sub(r"[^A-Za-z0-9.,;:!?'\- ]+", " ", f.read()).split()


def passages(words_each):
    for licence in LICENCES:
        words = licence_words(licence)
        for start in range(0, len(words) - words_each, words_each):
            yield " ".join(words[start:start + words_each])


def passage_sentences(shortest=5, longest=30):
    """The passages' texts as sentences (to ';', ':', '.', '!', '?'), short ones left out, long
    ones cut."""
    for licence in LICENCES:
        for sentence in re.split(r"(?<=[.;:!?])\s+", " ".join(licence_words(licence))):
            words = sentence.split()
            if len(words) >= shortest and re.search(r"[a-z]", sentence):
                yield " ".join(words[:longest])


def scaled(samples, factor):
    return array.array("h", (max(-32768, min(32767, int(s * factor))) for s in samples))


def speech_rms(samples):
    return rms([s for s in samples if s != 0])


def licence_babble_talkers():
    """BABBLE_TALKERS as babble_talkers takes them: each voice and its licence in 30-word parts."""
    for engine, voice, speed, licence in BABBLE_TALKERS:
        words = licence_words(licence)
        texts = [" ".join(words[at:at + 30]) for at in range(0, max(1, len(words) - 30), 30)]
        yield functools.partial(synthesize, engine, voice, speed=speed), texts


def babble_talkers(work, seconds, talkers):
    """Each babble talker's own loop as a WAV file (at the same speech loudness), and the loops
    mixed for the length of the shortest: speech-like noise with no single voice standing out.
    talkers: (say, texts), say(text, path, work) giving the samples of one text; each talker reads
    its texts in turn, from the first again when they run out."""
    paths, loops = [], []
    for t, (say, texts) in enumerate(talkers):
        loop = array.array("h")
        at = 0
        while len(loop) < (seconds + 7 * t) * RATE:
            loop += say(texts[at % len(texts)], os.path.join(work, "a.wav"), work) + silence(0.3)
            at += 1
        loop = scaled(loop, 3000 / speech_rms(loop))
        path = os.path.join(work, f"talker-{t}.wav")
        write_samples(path, loop)
        paths.append(path)
        loops.append(loop)
    length = min(len(loop) for loop in loops)
    babble = array.array("h", (max(-32768, min(32767, sum(column) // 2)) for column in zip(*(l[:length] for l in loops))))
    return paths, babble


def call_clip(head, tail, clip):
    """A call: a pause that varies with the clip number, the part up to and including the phrase,
    a short pause, the rest, and the 2.5 s of quiet after every clip. Gives the samples and the
    phrase's end in seconds."""
    lead = 0.4 + 0.1 * (clip % 5)
    return silence(lead) + head + silence(0.15) + tail + silence(2.5), round(lead + len(head) / RATE, 3)


def in_babble(samples, babble, snr_db, clip):
    """The clip in a stretch of the babble (chosen by the clip number) at the given ratio."""
    at = random.Random(clip).randrange(0, len(babble) - len(samples))
    return mixed(samples, babble[at:at + len(samples)], snr_db, 0)


def write_manifest(path, manifest):
    with open(path, "w", encoding="utf-8") as f:
        for entry in manifest:
            f.write(json.dumps(entry) + "\n")
    print(f"{len(manifest)} clips in {path}", file=sys.stderr)


def sox_rms(path):
    result = subprocess.run(["sox", "-R", path, "-n", "stat"], check=True, capture_output=True, text=True)
    return float(re.search(r"RMS\s+amplitude:\s+([0-9.]+)", result.stderr).group(1)) * 32768


def office_parts(out, talker_paths, minutes, work):
    """The office: distant babble throughout (every talker looped from its own starting point,
    mixed, with a room's reverberation and the highs a distance takes away), and near talkers
    reading passage sentences to someone else, OFFICE_NEAR_OVER_BABBLE_DB louder, separated by
    pauses of 5 to 60 s. Yields (file name, near speech [(start, end)] in seconds)."""
    rng = random.Random(1414)
    sentences = list(passage_sentences())
    rng.shuffle(sentences)
    near_rms = 3000
    parts = max(1, round(minutes / OFFICE_PART_MINUTES))
    part_seconds = minutes * 60 / parts
    sentence = 0
    for part in range(parts):
        # The distant babble for this part.
        looped = []
        for t, path in enumerate(talker_paths):
            seconds = len(read_samples(path)) / RATE
            start = rng.uniform(0, seconds)
            looped_path = os.path.join(work, f"looped-{t}.wav")
            run("sox", path, looped_path, "repeat", str(int(part_seconds / seconds) + 2),
                "trim", f"{start:.3f}", f"{part_seconds:.3f}")
            looped.append(looped_path)
        mixed_path = os.path.join(work, "babble-mixed.wav")
        mix_args = []
        for path in looped:
            mix_args += ["-v", "0.3", path]
        run("sox", "-m", *mix_args, mixed_path, "reverb", "50", "50", "100", "lowpass", "3500")
        babble_path = os.path.join(work, "babble-distant.wav")
        gain = near_rms / 10 ** (OFFICE_NEAR_OVER_BABBLE_DB / 20) / sox_rms(mixed_path)
        run("sox", mixed_path, "-b", "16", babble_path, "vol", f"{gain:.6f}")
        # The near talkers.
        near = silence(part_seconds)
        spans = []
        at = rng.uniform(*OFFICE_PAUSE)
        while True:
            engine, voice = VOICES[sentence % len(VOICES)]
            text = sentences[sentence % len(sentences)]
            sentence += 1
            utterance = synthesize(engine, voice, text, os.path.join(work, "a.wav"), work)
            utterance = scaled(utterance, near_rms / speech_rms(utterance))
            begin = int(at * RATE)
            if begin + len(utterance) > len(near):
                break
            near[begin:begin + len(utterance)] = utterance
            spans.append([round(at, 2), round(at + len(utterance) / RATE, 2)])
            at += len(utterance) / RATE + rng.uniform(*OFFICE_PAUSE)
        near_path = os.path.join(work, "near.wav")
        write_samples(near_path, near)
        name = f"office-{part}.wav"
        run("sox", "-m", "-v", "1", near_path, "-v", "1", babble_path, "-b", "16", os.path.join(out, name))
        yield name, spans


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus"))
    parser.add_argument("--negative-minutes", type=float, default=60)
    parser.add_argument("--office-minutes", type=float, default=60)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    manifest = []
    with tempfile.TemporaryDirectory() as work:
        talker_paths, babble = babble_talkers(work, BABBLE_SECONDS, licence_babble_talkers())
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
                    samples, end = call_clip(head, tail, clip)
                    conditions = [("clean", None), ("snr20", 20), ("snr10", 10), ("snr5", 5), ("babble10", 10)]
                    if engine == "espeak":
                        conditions = [("espeak-clean", None), ("espeak-snr10", 10)]
                    for condition, snr in conditions:
                        name = f"call-{clip:03d}-{condition}.wav"
                        if snr is None:
                            noisy = samples
                        elif condition.startswith("babble"):
                            noisy = in_babble(samples, babble, snr, clip)
                        else:
                            noisy = mixed_with_noise(samples, snr, clip * 7 + snr, work)
                        write_samples(os.path.join(out, name), noisy)
                        manifest.append({"audio": name, "locale": "en-US", "phrases": [phrase],
                                         "calls": [{"phrase": phrase, "end": end}],
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
        # The office: an hour of a busy room in which nobody calls.
        for name, spans in office_parts(out, talker_paths, args.office_minutes, work):
            manifest.append({"audio": name, "locale": "en-US", "phrases": PHRASES, "calls": [],
                             "condition": "office", "nearSpeech": spans})
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
    write_manifest(os.path.join(out, "manifest.jsonl"), manifest)


if __name__ == "__main__":
    main()
