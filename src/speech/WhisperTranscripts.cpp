#include "speech/WhisperTranscripts.h"

#include "matching/UnicodeText.h"
#include "matching/WakePhraseMatching.h"

#include <algorithm>

namespace harkwell {

bool echoesThePrompt(std::string_view transcript, const std::vector<std::string>& phrases) {
    const auto words = matchingTokens(transcript);
    // Where each phrase occurrence ends, by the index of its first word.
    std::vector<std::vector<std::size_t>> endsAt(words.size());
    for (const auto& phrase : phrases) {
        const auto tokens = matchingTokens(phrase);
        if (tokens.empty() || tokens.size() > words.size()) {
            continue;
        }
        for (std::size_t at = 0; at + tokens.size() <= words.size(); ++at) {
            if (std::equal(tokens.begin(), tokens.end(), words.begin() + static_cast<std::ptrdiff_t>(at))) {
                endsAt[at].push_back(at + tokens.size());
            }
        }
    }
    for (const auto& ends : endsAt) {
        for (const auto end : ends) {
            if (end < words.size() && !endsAt[end].empty()) {
                return true;
            }
        }
    }
    return false;
}

namespace {

std::size_t editDistance(const std::u32string& a, const std::u32string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const auto above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// A title as Whisper writes it without being told how the user spells it ("Doctor Kim"), as its
// abbreviation ("dr"), so that titles compare by what is said.
std::vector<std::string> withTitlesShort(std::vector<std::string> words) {
    static const std::vector<std::pair<std::string, std::string>> titles{
        {"doctor", "dr"}, {"mister", "mr"}, {"missus", "mrs"}, {"professor", "prof"}};
    for (auto& word : words) {
        for (const auto& [spoken, written] : titles) {
            if (word == spoken) {
                word = written;
            }
        }
    }
    return words;
}

} // namespace

std::optional<std::string> spelledAsPhrase(std::string_view transcript, std::string_view phrase,
                                           double editsPerLetter) {
    // Letters compare as their decomposition: a Hangul syllable as its jamo, so that 민서 is one
    // letter of five away from 민수, not one syllable of two.
    std::string targetText;
    const auto phraseTokens = matchingTokens(phrase);
    for (const auto& token : withTitlesShort(phraseTokens)) {
        targetText += token;
    }
    const auto target = unicode::decomposedCodePoints(targetText);
    if (target.empty()) {
        return std::nullopt;
    }
    // The transcript's words as written, and each matching token with the word it came from.
    std::vector<std::string_view> written;
    std::vector<std::pair<std::string, std::size_t>> tokens;
    for (std::size_t at = 0; (at = transcript.find_first_not_of(' ', at)) != std::string_view::npos;) {
        const auto end = std::min(transcript.find(' ', at), transcript.size());
        written.push_back(transcript.substr(at, end - at));
        for (auto& token : withTitlesShort(matchingTokens(written.back()))) {
            tokens.emplace_back(std::move(token), written.size() - 1);
        }
        at = end;
    }
    // Runs of as many words as the phrase has, or one more or fewer ("Shiv on", "Doctor Kim"):
    // the closest one that is near enough.
    const auto length = phraseTokens.size();
    std::optional<std::pair<std::size_t, std::size_t>> closest; // first and last written word
    double closestShare = editsPerLetter;
    for (std::size_t count = std::max<std::size_t>(1, length) - (length > 1 ? 1 : 0); count <= length + 1; ++count) {
        for (std::size_t at = 0; at + count <= tokens.size(); ++at) {
            std::string runText;
            for (std::size_t i = at; i < at + count; ++i) {
                runText += tokens[i].first;
            }
            const auto run = unicode::decomposedCodePoints(runText);
            if (run.size() >= target.size() + 2 && run.find(target) != std::u32string::npos) {
                continue; // the phrase inside a longer word ("Jameson"), not a spelling of it
            }
            const auto share = static_cast<double>(editDistance(run, target)) /
                               static_cast<double>(std::max(run.size(), target.size()));
            if (share <= closestShare && (!closest || share < closestShare)) {
                closestShare = share;
                closest = {tokens[at].second, tokens[at + count - 1].second};
            }
        }
    }
    if (!closest) {
        return std::nullopt;
    }
    // The run's words give way to the phrase; the punctuation after the last one stays.
    const auto last = written[closest->second];
    const auto kept = last.find_last_not_of(".,!?;:\"')");
    std::string respelled;
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (i > closest->first && i <= closest->second) {
            continue;
        }
        if (!respelled.empty()) {
            respelled += ' ';
        }
        if (i == closest->first) {
            respelled.append(phrase);
            respelled.append(kept == std::string_view::npos ? last : last.substr(kept + 1));
        } else {
            respelled.append(written[i]);
        }
    }
    return respelled;
}

bool soundsLike(std::string_view transcript, std::string_view phrase, double editsPerLetter) {
    return spelledAsPhrase(transcript, phrase, editsPerLetter).has_value();
}

std::vector<std::string> growingTranscripts(std::string_view transcript) {
    std::vector<std::string> partials;
    std::string partial;
    std::size_t at = 0;
    while (at < transcript.size()) {
        const auto start = transcript.find_first_not_of(' ', at);
        if (start == std::string_view::npos) {
            break;
        }
        const auto end = std::min(transcript.find(' ', start), transcript.size());
        if (!partial.empty()) {
            partial += ' ';
        }
        partial.append(transcript.substr(start, end - start));
        partials.push_back(partial);
        at = end;
    }
    if (partials.empty()) {
        partials.emplace_back(transcript);
    }
    return partials;
}

std::string whisperPrompt(const std::vector<std::string>& phrases) {
    std::string prompt;
    for (const auto& phrase : phrases) {
        prompt += (prompt.empty() ? "" : ", ") + phrase;
    }
    return prompt.empty() ? prompt : prompt + ".";
}

std::string withFormSuffixesApart(std::string_view transcript) {
    std::string apart;
    for (const auto& word : matchingTokens(transcript)) {
        const auto suffix = koreanFormSuffix(word);
        if (!apart.empty()) {
            apart += ' ';
        }
        apart.append(word, 0, word.size() - suffix.size());
        if (!suffix.empty()) {
            apart += ' ';
            apart += suffix;
        }
    }
    return apart;
}

} // namespace harkwell
