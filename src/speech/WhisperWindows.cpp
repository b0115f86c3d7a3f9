#include "speech/WhisperWindows.h"

#include <algorithm>
#include <cctype>

namespace harkwell {

std::optional<AudioWindow> WhisperWindowPlanner::window(std::uint64_t endFrame, int longest, bool endsUtterance) {
    const auto span = static_cast<std::uint64_t>(longest);
    std::uint64_t beginFrame = endFrame > span ? endFrame - span : 0;
    bool opensUtterance = false; // unknown without an utterance going on
    if (utteranceStart_) {
        const auto preroll = static_cast<std::uint64_t>(settings_.prerollFrames);
        const auto shortest = static_cast<std::uint64_t>(settings_.shortestFrames);
        const auto utteranceBegin = *utteranceStart_ > preroll ? *utteranceStart_ - preroll : 0;
        beginFrame = std::max(beginFrame, utteranceBegin);
        beginFrame = std::min(beginFrame, endFrame > shortest ? endFrame - shortest : 0);
        opensUtterance = beginFrame <= utteranceBegin;
    }
    if (endFrame <= coveredUntil_ || endFrame <= beginFrame) {
        return std::nullopt;
    }
    coveredUntil_ = endFrame;
    lastGiven_ = AudioWindow{beginFrame * frameSamples, endFrame * frameSamples, opensUtterance, endsUtterance};
    return lastGiven_;
}

std::optional<AudioWindow> WhisperWindowPlanner::hearFrame(bool nearSpeech) {
    const auto frame = frames_++;
    if (nearSpeech) {
        if (!utteranceStart_) {
            utteranceStart_ = frame;
            lastWindowAt_ = frame;
        }
        lastNearFrame_ = frame;
    }
    if (!utteranceStart_) {
        return std::nullopt;
    }
    const auto now = frame + 1;
    if (frame - lastNearFrame_ >= static_cast<std::uint64_t>(settings_.endGapFrames)) {
        // Ended: the last window runs to a little after the last near frame.
        const auto end = std::min(now, lastNearFrame_ + 1 + static_cast<std::uint64_t>(settings_.tailFrames));
        auto last = window(end, settings_.longestFrames, true);
        utteranceStart_.reset();
        return last;
    }
    const auto sinceWindow = now - lastWindowAt_;
    const auto period = static_cast<std::uint64_t>(settings_.periodFrames);
    if (sinceWindow >= period &&
        (!nearSpeech || sinceWindow >= period + static_cast<std::uint64_t>(settings_.cutWaitFrames))) {
        lastWindowAt_ = now;
        return window(now, settings_.longestFrames, false);
    }
    return std::nullopt;
}

std::optional<AudioWindow> WhisperWindowPlanner::candidate() {
    if (utteranceStart_) {
        lastWindowAt_ = frames_; // the next periodic window comes a whole period later
    }
    if (auto fresh = window(frames_, settings_.candidateFrames, false)) {
        return fresh;
    }
    if (lastGiven_ && lastGiven_->end == frames_ * frameSamples) {
        return lastGiven_;
    }
    return std::nullopt;
}

std::vector<AudioWindow> WindowScreen::add(AudioWindow window, std::uint64_t now) {
    if (!hearsTheTalker_) {
        return {window};
    }
    waiting_.push_back(window);
    return advance(now);
}

std::vector<AudioWindow> WindowScreen::soundAlike(std::uint64_t now) {
    cues_.push_back(now);
    return advance(now);
}

std::vector<AudioWindow> WindowScreen::advance(std::uint64_t now) {
    std::vector<AudioWindow> due;
    std::erase_if(waiting_, [&](const AudioWindow& window) {
        const auto until = window.end + settings_.waitSamples;
        if (std::any_of(cues_.begin(), cues_.end(),
                        [&](std::uint64_t at) { return at >= window.begin && at <= until; })) {
            due.push_back(window);
            return true;
        }
        if (now <= until) {
            return false;
        }
        if (++passedOver_ >= settings_.checkEvery) {
            passedOver_ = 0;
            due.push_back(window); // to see that the basic recogniser still hears the talker
        }
        return true;
    });
    // Cues before every window still waiting, and long past, serve no more.
    const auto oldest = waiting_.empty() ? now : std::min(now, waiting_.front().begin);
    while (!cues_.empty() && cues_.front() + settings_.waitSamples < oldest) {
        cues_.pop_front();
    }
    return due;
}

namespace {

// The words of a transcript in lower case, without punctuation.
std::vector<std::string> wordsOf(const std::string& text) {
    std::vector<std::string> words(1);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '\'' || byte >= 0x80) {
            words.back() += static_cast<char>(std::tolower(byte));
        } else if (!words.back().empty()) {
            words.emplace_back();
        }
    }
    if (words.back().empty()) {
        words.pop_back();
    }
    return words;
}

} // namespace

std::vector<AudioWindow> WindowScreen::compare(const std::string& accurate, const std::string& basic) {
    const auto heard = wordsOf(accurate);
    if (heard.size() < 3) {
        return {};
    }
    const auto basicWords = wordsOf(basic);
    const auto shared = std::count_if(heard.begin(), heard.end(), [&](const std::string& word) {
        return std::find(basicWords.begin(), basicWords.end(), word) != basicWords.end();
    });
    const bool agrees = static_cast<double>(shared) >= settings_.agreement * static_cast<double>(heard.size());
    disagreements_ = agrees ? 0 : disagreements_ + 1;
    // Trusted at the first agreement, no longer at the second disagreement in a row: one window
    // of words it does not know ("sublicensing") says little of how it hears the talker.
    if (agrees || disagreements_ >= 2) {
        hearsTheTalker_ = agrees;
    }
    if (hearsTheTalker_) {
        return {};
    }
    // Nothing is left to a recogniser that does not hear the talker.
    passedOver_ = 0;
    std::vector<AudioWindow> due(waiting_.begin(), waiting_.end());
    waiting_.clear();
    return due;
}

void AudioWindowQueue::push(AudioWindow window, bool waitForRoom) {
    std::unique_lock lock(mutex_);
    const auto idle = [this] { return idleOrClosed(); };
    if (waitForRoom) {
        changed_.wait(lock, idle);
    } else if (windows_.size() >= capacity_) {
        windows_.pop_front();
        ++dropped_;
    }
    if (closed_) {
        return;
    }
    windows_.push_back(window);
    changed_.notify_all();
    if (waitForRoom) {
        // The audio stops until the window is transcribed: the audio delivered when a result
        // arrives is what a live microphone would have delivered had transcribing taken no time.
        changed_.wait(lock, idle);
    }
}

void AudioWindowQueue::waitUntilIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return idleOrClosed(); });
}

std::optional<AudioWindow> AudioWindowQueue::pop(const std::function<void()>& whenIdle) {
    std::unique_lock lock(mutex_);
    busy_ = false;
    changed_.notify_all();
    if (whenIdle && windows_.empty() && !closed_) {
        lock.unlock();
        whenIdle();
        lock.lock();
    }
    changed_.wait(lock, [this] { return closed_ || !windows_.empty(); });
    if (closed_) {
        return std::nullopt;
    }
    const auto window = windows_.front();
    windows_.pop_front();
    busy_ = true;
    return window;
}

bool AudioWindowQueue::idleOrClosed() const { return closed_ || (windows_.empty() && !busy_ && deliveries_ == 0); }

void AudioWindowQueue::beginDelivery() {
    const std::lock_guard lock(mutex_);
    ++deliveries_;
}

void AudioWindowQueue::endDelivery() {
    const std::lock_guard lock(mutex_);
    --deliveries_;
    changed_.notify_all();
}

void AudioWindowQueue::close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    windows_.clear();
    changed_.notify_all();
}

std::uint64_t AudioWindowQueue::dropped() const {
    const std::lock_guard lock(mutex_);
    return dropped_;
}

void AudioHistory::append(std::span<const std::int16_t> samples) {
    const std::lock_guard lock(mutex_);
    samples_.insert(samples_.end(), samples.begin(), samples.end());
    if (samples_.size() > capacity_) {
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(samples_.size() - capacity_));
    }
    end_ += samples.size();
}

std::vector<float> AudioHistory::samples(AudioWindow window) const {
    const std::lock_guard lock(mutex_);
    const auto first = end_ - samples_.size();
    const auto begin = std::clamp(window.begin, first, end_);
    const auto end = std::clamp(window.end, begin, end_);
    std::vector<float> out;
    out.reserve(end - begin);
    for (auto at = begin; at < end; ++at) {
        out.push_back(static_cast<float>(samples_[at - first]) / 32768.0f);
    }
    return out;
}

std::uint64_t AudioHistory::end() const {
    const std::lock_guard lock(mutex_);
    return end_;
}

} // namespace harkwell
