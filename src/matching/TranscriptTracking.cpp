#include "matching/UnicodeText.h"
#include "matching/WakePhraseMatching.h"

#include <algorithm>

namespace harkwell {

IncrementalTranscriptUpdate incrementalTranscriptUpdate(std::string_view previousTranscript,
                                                        std::string_view currentTranscript) {
    const std::string previous = unicode::trimmed(previousTranscript);
    const std::string current = unicode::trimmed(currentTranscript);
    if (current.empty()) {
        return IncrementalTranscriptUpdate::replace("");
    }
    if (previous.empty()) {
        return IncrementalTranscriptUpdate::replace(current);
    }
    if (unicode::beginsWithCharacters(current, previous)) {
        std::string remainder = current.substr(previous.size());
        return IncrementalTranscriptUpdate::append(unicode::isBlank(remainder) ? "" : std::move(remainder));
    }

    const auto previousWords = unicode::whitespaceSeparatedWords(previous);
    const auto currentWords = unicode::whitespaceSeparatedWords(current);
    for (size_t overlap = std::min(previousWords.size(), currentWords.size()); overlap > 0; --overlap) {
        if (std::equal(previousWords.end() - static_cast<std::ptrdiff_t>(overlap), previousWords.end(),
                       currentWords.begin())) {
            std::string added;
            for (size_t i = overlap; i < currentWords.size(); ++i) {
                added += " " + currentWords[i];
            }
            return IncrementalTranscriptUpdate::append(std::move(added));
        }
    }
    return IncrementalTranscriptUpdate::replace(current);
}

std::string applyingTranscriptUpdate(const IncrementalTranscriptUpdate& update, std::string_view window,
                                     const std::vector<std::string>& phrases) {
    const bool replaces = update.kind() == IncrementalTranscriptUpdate::Kind::replace;
    return recentWakePhraseWindow(update.text(), replaces ? std::string_view() : window, phrases);
}

int wakeWindowLimit(const std::vector<std::string>& phrases) {
    int longest = 0;
    for (const auto& phrase : normalizedWakePhrases(phrases)) {
        longest = std::max(longest, unicode::characterCount(phrase));
    }
    return std::min(std::max(longest + wakeWindowMargin, wakeWindowMinimum), wakeWindowMaximum);
}

std::string recentWakePhraseWindow(std::string_view appending, std::string_view existing,
                                   const std::vector<std::string>& phrases) {
    std::string combined(existing);
    combined += appending;
    if (unicode::isBlank(combined)) {
        return "";
    }
    // Ill-formed bytes come back as U+FFFD, whether or not the window is cut.
    return unicode::lastCharacters(combined, wakeWindowLimit(phrases));
}

} // namespace harkwell
