#!/usr/bin/env python3
"""Builds the detection benchmark's Korean corpus from Debian packages only (espeak-ng's Korean
voice, flite for the English calls of the mixed clips, sox, and the Korean translations that
packages ship in /usr/share/locale/ko/LC_MESSAGES, read with gettext's msgunfmt).

    bench/make_korean_corpus.py [--out bench/corpus] [--negative-minutes 20]

Writes 16 kHz mono 16-bit WAV files named ko-* and bench/corpus/korean.jsonl, in the manifest
format of the English corpus (docs/benchmark.md, "The manifest"), each line also with the clip's
"text". Deterministic: the same packages give the same corpus.
"""
import argparse
import array
import functools
import os
import random
import re
import subprocess
import sys
import tempfile

import make_corpus
from make_corpus import RATE, call_clip, in_babble, silence, synthesize, write_manifest

LOCALE = "ko-KR"
GIVEN_NAMES = ["민수", "지훈", "서연", "유나"]
FULL_NAMES = ["김민수", "박서연"]
PHRASES = GIVEN_NAMES + FULL_NAMES
# (text before the phrase, text after it); the phrase ends where the first part ends. Polite
# sentences for the bare name, 씨, 님 and full names; plain ones for the vocative 아/야.
POLITE = [
    ("{p},", "잠깐 이리 와 주시겠어요?"),
    ("죄송한데 {p},", "회의가 지금 시작해요."),
    ("이것 좀 도와주시겠어요, {p}?", ""),
    ("{p}!", ""),
]
PLAIN = [
    ("{p},", "잠깐 이리 와 볼래?"),
    ("미안한데 {p},", "회의 지금 시작한대."),
    ("이것 좀 도와줄래, {p}?", ""),
    ("{p}!", ""),
]
NEAR_MISSES = [
    # A name inside a longer word.
    "이 제품은 민수용으로 만든 거예요.",
    "이민수속이 생각보다 오래 걸렸어요.",
    "유나이티드 항공을 타고 왔어요.",
    "민수는 오늘 집에 일찍 갔어요.",
    # A lone syllable of a name.
    "민 선생님이 방금 전화하셨어요.",
    "그건 제가 할 수 있어요.",
    "서 대리님 자리에 안 계세요.",
    "유 팀장님이 회의실에 계세요.",
    # A similar name.
    "민서야, 밥 먹으러 가자.",
    "민호 씨, 서류 여기 있어요.",
    "지호야, 숙제 다 했니?",
    "서윤 님, 택배 왔어요.",
    "유라야, 이리 와 봐.",
    "김민우 씨, 잠깐 오시겠어요?",
]
# eSpeak NG's Korean voice: (variant, words a minute, pitch 0-99).
VOICES = [("ko", 150, 50), ("ko+f3", 165, 62), ("ko+m3", 140, 40), ("ko+f2", 175, 70)]
# Babble: six Korean talkers, (variant, words a minute, pitch, speed), reading sentences that the
# negatives leave out.
BABBLE_TALKERS = [("ko", 150, 50, 1.0), ("ko+f3", 165, 62, 1.05), ("ko+m3", 140, 40, 0.95),
                  ("ko+f2", 175, 70, 1.0), ("ko+m1", 155, 35, 1.08), ("ko+f4", 160, 58, 0.92)]
BABBLE_SENTENCES = 240
# Mixed: a Korean and an English phrase listened for at once; English calls in Flite's voices.
MIXED = [("민수", "James"), ("서연", "Dr. Kim")]
MIXED_ENGLISH_VOICES = ["slt", "rms"]
# The packages' message catalogues the negatives and the babble read. Each is in a package that
# Harkwell's set-up installs or that every Debian system has.
CATALOGUES = ["apt", "bash", "coreutils", "dpkg", "findutils", "gettext-tools", "grep", "pulseaudio",
              "sed", "shadow", "tar"]
CATALOGUE_FOLDER = "/usr/share/locale/ko/LC_MESSAGES"
HANGUL = "\uac00-\ud7a3"
# A plain sentence: Hangul words with commas between, at most one closing mark, and one of the
# endings a statement has in these messages.
PLAIN_SENTENCE = re.compile(f"[{HANGUL}][{HANGUL} ,]*(다|요|음|함|됨|임)[.?!]?")
SENTENCE_SYLLABLES = (10, 60)
SEED = 2020


def vocative(name):
    """아 after a final consonant, 야 after a vowel."""
    return name + ("아" if (ord(name[-1]) - 0xAC00) % 28 else "야")


def call_forms():
    """(phrase, form said, polite or not) for every accepted form the corpus says."""
    for name in GIVEN_NAMES:
        yield name, name, True
        yield name, name + "님", True
        yield name, name + " 씨", True
        yield name, vocative(name), False
    for name in FULL_NAMES:
        yield name, name, True
        yield name, name + " 씨", True
        yield name, name + "님", True


def say(voice, text, path, work):
    variant, words_per_minute, pitch = voice
    return synthesize("espeak", variant, text, path, work, words_per_minute=words_per_minute, pitch=pitch)


def catalogue_messages(domain):
    """The translations of one message catalogue, as msgunfmt writes them (in UTF-8)."""
    path = os.path.join(CATALOGUE_FOLDER, f"{domain}.mo")
    if not os.path.exists(path):
        sys.exit(f"{path} is missing: install the package that ships it (dpkg -S {domain}.mo on a full system)")
    po = subprocess.run(f"msgunfmt '{path}' | msgconv -t UTF-8", shell=True, check=True, capture_output=True,
                        text=True).stdout
    key, parts = None, []
    for line in po.splitlines() + [""]:
        field = re.match(r'^(msgctxt|msgid|msgid_plural|msgstr(?:\[\d+\])?) "(.*)"$', line)
        if line.startswith('"') and key:
            parts.append(line[1:-1])
            continue
        if key and key.startswith("msgstr"):
            yield "".join(parts)
        key, parts = (field.group(1), [field.group(2)]) if field else (None, [])


def sentences():
    """The catalogues' plain sentences of ordinary length without any phrase, in a fixed shuffled
    order. Messages are joined across their line breaks and split at the sentence marks."""
    found = set()
    for domain in CATALOGUES:
        for message in catalogue_messages(domain):
            text = " ".join(message.replace("\\n", " ").replace("\\t", " ").split())
            for sentence in re.split(r"(?<=[.?!])\s+", text):
                syllables = len(re.findall(f"[{HANGUL}]", sentence))
                if (PLAIN_SENTENCE.fullmatch(sentence) and len(sentence.split()) >= 3
                        and SENTENCE_SYLLABLES[0] <= syllables <= SENTENCE_SYLLABLES[1]
                        and not any(name in sentence for name in PHRASES)):
                    found.add(sentence)
    ordered = sorted(found)
    random.Random(SEED).shuffle(ordered)
    return ordered


def babble_talkers(texts):
    """BABBLE_TALKERS as make_corpus.babble_talkers takes them, each from its own place in the
    texts."""
    step = len(texts) // len(BABBLE_TALKERS)
    for t, (variant, words_per_minute, pitch, speed) in enumerate(BABBLE_TALKERS):
        yield (functools.partial(synthesize, "espeak", variant, speed=speed, words_per_minute=words_per_minute,
                                 pitch=pitch), texts[t * step:] + texts[:t * step])


def entry(name, phrases, calls, condition, text):
    return {"audio": name, "locale": LOCALE, "phrases": phrases, "calls": calls, "condition": condition,
            "text": text}


def spoken(speak, before, after, work):
    """The part up to and including the phrase, the rest (maybe nothing) and the whole text."""
    head = speak(before, os.path.join(work, "a.wav"), work)
    tail = speak(after, os.path.join(work, "b.wav"), work) if after else array.array("h")
    return head, tail, " ".join(part for part in (before, after) if part)


def calls(out, work, babble):
    """Every form in every sentence of its register, by two of the voices in turn; then the same
    clips in the babble."""
    clip = 0
    for f, (phrase, form, polite) in enumerate(call_forms()):
        for s, (before, after) in enumerate(POLITE if polite else PLAIN):
            for v, voice in enumerate(VOICES):
                if (f + s + v) % 2:
                    continue
                head, tail, text = spoken(functools.partial(say, voice), before.format(p=form), after, work)
                samples, end = call_clip(head, tail, clip)
                for condition, noisy in (("ko-clean", samples), ("ko-babble10", in_babble(samples, babble, 10, clip))):
                    name = f"ko-call-{clip:03d}-{condition[3:]}.wav"
                    make_corpus.write_samples(os.path.join(out, name), noisy)
                    yield entry(name, [phrase], [{"phrase": phrase, "end": end}], condition, text)
                clip += 1


def near_misses(out, work):
    """Sounds close to a phrase, never a phrase, by every voice."""
    for n, text in enumerate(NEAR_MISSES):
        for v, voice in enumerate(VOICES):
            samples = silence(0.5) + say(voice, text, os.path.join(work, "a.wav"), work) + silence(1.5)
            name = f"ko-near-{n:02d}-{v}.wav"
            make_corpus.write_samples(os.path.join(out, name), samples)
            yield entry(name, PHRASES, [], "ko-near-miss", text)


def negatives(out, work, texts, minutes):
    """Read text without a phrase: clips of about 30 s of sentences, every voice in turn."""
    total, at, n = 0.0, 0, 0
    while total < minutes * 60:
        if at >= len(texts):
            print(f"the catalogues give only {total / 60:.1f} minutes of negatives", file=sys.stderr)
            return
        voice = VOICES[n % len(VOICES)]
        samples, said = array.array("h"), []
        while len(samples) < 30 * RATE and at < len(texts):
            samples += say(voice, texts[at], os.path.join(work, "a.wav"), work) + silence(0.5)
            said.append(texts[at])
            at += 1
        samples += silence(0.5)
        name = f"ko-negative-{n:03d}.wav"
        make_corpus.write_samples(os.path.join(out, name), samples)
        total += len(samples) / RATE
        n += 1
        yield entry(name, PHRASES, [], "ko-negative", " ".join(said))


def mixed(out, work):
    """A Korean and an English phrase listened for at once: for each pair, two Korean calls by two
    Korean voices and two English calls by two Flite voices."""
    clip = 0
    for korean, english in MIXED:
        for v, voice in enumerate(VOICES[:2]):
            said = [(functools.partial(say, voice), PLAIN[0][0].format(p=vocative(korean)), PLAIN[0][1], korean),
                    (functools.partial(say, voice), POLITE[1][0].format(p=korean + " 씨"), POLITE[1][1], korean)]
            english_voice = functools.partial(synthesize, "flite", MIXED_ENGLISH_VOICES[v])
            said += [(english_voice, before.format(p=english), after, english)
                     for before, after in make_corpus.SENTENCES[:2]]
            for speak, before, after, phrase in said:
                head, tail, text = spoken(speak, before, after, work)
                samples, end = call_clip(head, tail, clip)
                name = f"ko-mixed-{clip:02d}.wav"
                make_corpus.write_samples(os.path.join(out, name), samples)
                yield entry(name, [korean, english], [{"phrase": phrase, "end": end}], "mixed", text)
                clip += 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus"))
    parser.add_argument("--negative-minutes", type=float, default=20)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    texts = sentences()
    negative_texts, babble_texts = texts[:-BABBLE_SENTENCES], texts[-BABBLE_SENTENCES:]
    manifest = []
    with tempfile.TemporaryDirectory() as work:
        _, babble = make_corpus.babble_talkers(work, make_corpus.BABBLE_SECONDS, babble_talkers(babble_texts))
        manifest += calls(out, work, babble)
        manifest += near_misses(out, work)
        manifest += negatives(out, work, negative_texts, args.negative_minutes)
        manifest += mixed(out, work)
    write_manifest(os.path.join(out, "korean.jsonl"), manifest)


if __name__ == "__main__":
    main()
