#include "airpods/HelperOutput.h"

#include "matching/UnicodeText.h"

#include <charconv>

namespace harkwell {

namespace {

constexpr std::string_view exitCodePrefix = "EXIT_CODE=";

// The length of the line break that starts at `text[index]`, or 0.
size_t lineBreakLength(std::string_view text, size_t index) {
    const auto byte = static_cast<unsigned char>(text[index]);
    if (byte == '\r') {
        return index + 1 < text.size() && text[index + 1] == '\n' ? 2 : 1;
    }
    if (byte >= '\n' && byte <= '\r') {
        return 1;
    }
    const std::string_view rest = text.substr(index);
    if (rest.starts_with("\xC2\x85")) {
        return 2;
    }
    if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) {
        return 3;
    }
    return 0;
}

std::string wellFormedTrimmed(std::string_view text) {
    return unicode::isWellFormedUtf8(text) ? unicode::trimmed(text) : std::string();
}

} // namespace

std::vector<std::string_view> helperOutputLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    size_t index = 0;
    while (index < text.size()) {
        const size_t breakLength = lineBreakLength(text, index);
        if (breakLength == 0) {
            ++index;
            continue;
        }
        if (index > start) {
            lines.push_back(text.substr(start, index - start));
        }
        index += breakLength;
        start = index;
    }
    if (index > start) {
        lines.push_back(text.substr(start, index - start));
    }
    return lines;
}

std::optional<int32_t> parseExitCode(std::string_view text) {
    const auto lines = helperOutputLines(text);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (!line->starts_with(exitCodePrefix)) {
            continue;
        }
        std::string_view number = line->substr(exitCodePrefix.size());
        if (number.starts_with('+')) {
            number.remove_prefix(1);
            if (number.starts_with('-')) {
                return std::nullopt;
            }
        }
        int32_t value = 0;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (error != std::errc() || end != number.data() + number.size() || number.empty()) {
            return std::nullopt;
        }
        return value;
    }
    return std::nullopt;
}

void dropIncompleteUtf8Tail(std::string& text) {
    // Look back over at most three continuation bytes for the lead byte of the last character.
    size_t lead = text.size();
    for (size_t back = 1; back <= 4 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) != 0x80) {
            lead = text.size() - back;
            break;
        }
    }
    if (lead == text.size()) {
        return;
    }
    const auto byte = static_cast<unsigned char>(text[lead]);
    const size_t length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    if (text.size() - lead < length) {
        text.resize(lead);
    }
}

CommandResult commandResultFromHelperOutput(std::string_view fileText, std::string_view printedText,
                                            int32_t exitStatus) {
    std::string combined;
    for (const std::string& part : {wellFormedTrimmed(fileText), wellFormedTrimmed(printedText)}) {
        if (part.empty()) {
            continue;
        }
        if (!combined.empty()) {
            combined += '\n';
        }
        combined += part;
    }

    CommandResult result{parseExitCode(combined).value_or(exitStatus), {}};
    for (const std::string_view line : helperOutputLines(combined)) {
        if (line.starts_with(exitCodePrefix)) {
            continue;
        }
        if (!result.output.empty()) {
            result.output += '\n';
        }
        result.output += line;
    }
    return result;
}

} // namespace harkwell
