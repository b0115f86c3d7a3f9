#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace harkwell {

// A stretch of the captured audio to transcribe, in samples since the request began.
struct AudioWindow {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool opensUtterance = true; // begins before the utterance it covers began
    bool endsUtterance = true;  // ends where the speaker stopped
    // For a window the basic recogniser proposed: which call phrase it heard (its index among
    // the normalised phrases).
    int proposedPhrase = -1;
    bool operator==(const AudioWindow&) const = default;
};

// Decides which stretches of audio the accurate recogniser transcribes, from 100 ms frames that
// are or are not near speech: an utterance near the microphone is transcribed every `period`
// while it goes on (the last `longest` of it) and once more when it ends; a candidate the basic
// recogniser heard is transcribed at once (the last `candidate` of audio). Distant chatter and
// silence are never transcribed.
//
// Pure: time is the audio's own, counted in frames. Not thread-safe.
class WhisperWindowPlanner {
public:
    struct Settings {
        int periodFrames = 20;  // 2 s
        int longestFrames = 30; // 3 s
        int candidateFrames = 30;
        // At least this much audio a window: in noise the near-speech watch loses a talker between
        // words, and a fragment of an utterance is too little for Whisper to make out a name.
        int shortestFrames = 25;
        int prerollFrames = 3; // audio before the first near frame: the start of the first word
        int endGapFrames = 4;  // an utterance has ended after this many frames without near speech
        int tailFrames = 2;    // audio after the last near frame: the end of the last word
        // A window of talk that goes on is cut in a frame without near speech (between words),
        // waiting up to this long past its period for one: cut inside a word, the name at its end
        // is half heard, and Whisper, told the phrases, completes it from its first sound.
        int cutWaitFrames = 5;
    };
    static constexpr std::uint64_t frameSamples = 1600;

    WhisperWindowPlanner() = default;
    explicit WhisperWindowPlanner(Settings settings) : settings_(settings) {}

    // The next frame; a window to transcribe when one is due.
    std::optional<AudioWindow> hearFrame(bool nearSpeech);
    // The basic recogniser heard a call phrase by now: the window to transcribe; when the audio up
    // to now was just given, that window again (the recogniser takes its transcript again with
    // the phrase proposed instead of transcribing it twice); nothing before any audio.
    std::optional<AudioWindow> candidate();

private:
    std::optional<AudioWindow> window(std::uint64_t endFrame, int longest, bool endsUtterance);

    Settings settings_;
    std::uint64_t frames_ = 0;                    // frames heard
    std::optional<std::uint64_t> utteranceStart_; // first near frame of the utterance going on
    std::uint64_t lastNearFrame_ = 0;
    std::uint64_t lastWindowAt_ = 0; // frame the last utterance window was cut at
    std::uint64_t coveredUntil_ = 0; // end frame of the last window given
    std::optional<AudioWindow> lastGiven_;
};

// Which windows of talk the accurate recogniser transcribes once the basic recogniser has heard
// their audio. While the basic recogniser hears the talker as Whisper does (from a window whose
// words agreed until two in a row do not), a window is transcribed only when the basic recogniser heard
// something like a call phrase in it (its cue comes after the audio, by up to `waitSamples`), and
// every `checkEvery`th of the others, to compare again. While it does not (noise, a voice it does
// not know, or no comparison yet) every window is transcribed: there its words say nothing.
//
// Pure: positions are samples since the request began. Not thread-safe.
class WindowScreen {
public:
    struct Settings {
        std::uint64_t waitSamples = 16000;
        int checkEvery = 4;
        // The share of Whisper's words the basic recogniser heard too, for it to hear the talker.
        double agreement = 0.5;
    };

    explicit WindowScreen(Settings settings) : settings_(settings) {}

    // A window of talk is due (the audio is at `now`); a cue of the basic recogniser that
    // something like a call phrase was said came at `now`; the audio went on to `now`. Each gives
    // the windows to transcribe now.
    std::vector<AudioWindow> add(AudioWindow window, std::uint64_t now);
    std::vector<AudioWindow> soundAlike(std::uint64_t now);
    std::vector<AudioWindow> advance(std::uint64_t now);
    // Whisper's transcript of a window against the basic recogniser's words of the same time; a
    // transcript of fewer than three words changes nothing. Gives the windows waiting when the
    // basic recogniser no longer hears the talker: they are transcribed after all.
    std::vector<AudioWindow> compare(const std::string& accurate, const std::string& basic);
    bool hearsTheTalker() const { return hearsTheTalker_; }

private:
    Settings settings_;
    bool hearsTheTalker_ = false;
    int disagreements_ = 0; // comparisons in a row that did not agree
    int passedOver_ = 0;    // windows not transcribed since the last check
    std::deque<AudioWindow> waiting_;
    std::deque<std::uint64_t> cues_; // where the audio was at each cue
};

// Windows waiting for the accurate recogniser: bounded, so that a recogniser slower than the
// talk drops the oldest windows (and counts them) instead of falling ever further behind.
class AudioWindowQueue {
public:
    explicit AudioWindowQueue(std::size_t capacity) : capacity_(capacity) {}

    // Adds a window; when full, the oldest waiting one is dropped. With `waitForRoom` (audio
    // from a file, never a live microphone) nothing is dropped: it waits until the recogniser is
    // idle, adds the window and waits again until the recogniser has transcribed it.
    void push(AudioWindow window, bool waitForRoom = false);
    // Returns once no window waits and the recogniser is idle (or the queue is closed).
    void waitUntilIdle();
    // The oldest window; nothing once closed. Marks the recogniser busy until the next pop. When
    // no window waits, `whenIdle` runs first (outside the queue's lock) before waiting for one.
    std::optional<AudioWindow> pop(const std::function<void()>& whenIdle = {});
    // A result is on its way to the handler: the recogniser stays busy until it has arrived
    // (audio from a file, so that no more audio is delivered before the result is handled).
    void beginDelivery();
    void endDelivery();
    // Releases every waiter for good.
    void close();
    std::uint64_t dropped() const;

private:
    bool idleOrClosed() const; // with the mutex held

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<AudioWindow> windows_;
    std::uint64_t dropped_ = 0;
    bool busy_ = false;
    int deliveries_ = 0; // results on their way to the handler
    bool closed_ = false;
};

// The last seconds of captured audio, by sample index since the request began.
class AudioHistory {
public:
    explicit AudioHistory(std::size_t capacity) : capacity_(capacity) {}

    void append(std::span<const std::int16_t> samples);
    // The window's samples as floats (-1 to 1); the part no longer kept is left out.
    std::vector<float> samples(AudioWindow window) const;
    std::uint64_t end() const;

private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::deque<std::int16_t> samples_;
    std::uint64_t end_ = 0; // index after the newest sample
};

} // namespace harkwell
