#include "airpods/ListeningMode.h"

#include "airpods/HelperOutput.h"

#include "matching/UnicodeText.h"

#include <unicode/locid.h>

namespace harkwell {

namespace {

std::optional<ListeningMode> modeOfLine(std::string_view line) {
    icu::UnicodeString word = unicode::fromUtf8(unicode::trimmed(line));
    word.toLower(icu::Locale::getRoot());
    if (word == u"normal" || word == u"off") {
        return ListeningMode::normal;
    }
    if (word == u"anc" || word == u"noise" || word == u"noise-cancellation") {
        return ListeningMode::anc;
    }
    if (word == u"transparency" || word == u"transparent") {
        return ListeningMode::transparency;
    }
    return std::nullopt;
}

} // namespace

std::optional<ListeningMode> ListeningMode::fromHelperOutput(std::string_view output) {
    // From the last line to the first: the last mode word wins.
    const auto lines = helperOutputLines(output);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (auto mode = modeOfLine(*line)) {
            return mode;
        }
    }
    return std::nullopt;
}

} // namespace harkwell
