#include "airpods/ListeningMode.h"

#include "matching/UnicodeText.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>

namespace harkwell {

std::optional<ListeningMode> ListeningMode::fromRawValue(std::string_view raw) {
    if (raw == "normal") {
        return ListeningMode::normal;
    }
    if (raw == "anc") {
        return ListeningMode::anc;
    }
    if (raw == "transparency") {
        return ListeningMode::transparency;
    }
    return std::nullopt;
}

std::string_view ListeningMode::rawValue() const {
    switch (value_) {
    case normal:
        return "normal";
    case anc:
        return "anc";
    case transparency:
        return "transparency";
    }
    return "normal";
}

namespace {

bool isLineBreak(UChar32 c) { return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029; }

std::optional<ListeningMode> modeOfLine(const icu::UnicodeString& line) {
    icu::UnicodeString word = unicode::fromUtf8(unicode::trimmed(unicode::toUtf8(line)));
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
    const icu::UnicodeString text = unicode::fromUtf8(output);
    // From the last line to the first: the last mode word wins.
    int32_t end = text.length();
    while (end > 0) {
        int32_t start = end;
        while (start > 0 && !isLineBreak(text.char32At(text.moveIndex32(start, -1)))) {
            start = text.moveIndex32(start, -1);
        }
        if (start < end) {
            if (auto mode = modeOfLine(icu::UnicodeString(text, start, end - start))) {
                return mode;
            }
        }
        end = start > 0 ? text.moveIndex32(start, -1) : 0;
    }
    return std::nullopt;
}

} // namespace harkwell
