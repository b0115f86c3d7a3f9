#include "matching/UnicodeText.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

namespace harkwell::unicode {

namespace {

// Creating a break iterator loads rules; keep one per thread.
icu::BreakIterator& characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status) || !created) {
            throw std::runtime_error("ICU character break iterator is unavailable");
        }
        return created;
    }();
    return *iterator;
}

const icu::Normalizer2& normalizer(bool compose) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* instance =
        compose ? icu::Normalizer2::getNFCInstance(status) : icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status) || !instance) {
        throw std::runtime_error("ICU normalisation data is unavailable");
    }
    return *instance;
}

// Combining marks of the diacritical-mark blocks (Latin, Greek, Cyrillic and the like).
bool isDiacriticalMark(UChar32 c) {
    const bool inDiacriticBlock = (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
                                  (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
                                  (c >= 0xFE20 && c <= 0xFE2F);
    return inDiacriticBlock && u_charType(c) == U_NON_SPACING_MARK;
}

void appendWithoutDiacritics(icu::UnicodeString& out, const icu::UnicodeString& piece) {
    for (int32_t i = 0; i < piece.length(); i = piece.moveIndex32(i, 1)) {
        const UChar32 c = piece.char32At(i);
        if (!isDiacriticalMark(c)) {
            out.append(c);
        }
    }
}

} // namespace

icu::UnicodeString fromUtf8(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::u32string decomposedCodePoints(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const auto decomposed = normalizer(false).normalize(fromUtf8(text), status);
    std::u32string out;
    for (int32_t i = 0; i < decomposed.length(); i = decomposed.moveIndex32(i, 1)) {
        out.push_back(static_cast<char32_t>(decomposed.char32At(i)));
    }
    return out;
}

std::vector<int32_t> characterBoundaries(const icu::UnicodeString& text) {
    std::vector<int32_t> boundaries;
    boundaries.reserve(static_cast<size_t>(text.length()) + 1);
    auto& iterator = characterIterator();
    iterator.setText(text);
    for (int32_t at = iterator.first(); at != icu::BreakIterator::DONE; at = iterator.next()) {
        boundaries.push_back(at);
    }
    if (boundaries.empty()) {
        boundaries.push_back(0);
    }
    return boundaries;
}

int32_t characterCount(std::string_view text) {
    return static_cast<int32_t>(characterBoundaries(fromUtf8(text)).size()) - 1;
}

std::string lastCharacters(std::string_view text, int32_t count) {
    const icu::UnicodeString unicodeText = fromUtf8(text);
    const auto boundaries = characterBoundaries(unicodeText);
    const auto total = static_cast<int32_t>(boundaries.size()) - 1;
    if (count >= total) {
        return toUtf8(unicodeText);
    }
    const int32_t start = boundaries[static_cast<size_t>(total - count)];
    return toUtf8(icu::UnicodeString(unicodeText, start));
}

bool isWellFormedUtf8(std::string_view text) {
    if (text.size() > static_cast<size_t>(INT32_MAX)) {
        return false;
    }
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    return status != U_INVALID_CHAR_FOUND && status != U_ILLEGAL_ARGUMENT_ERROR;
}

bool isWhitespaceOrNewline(UChar32 c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) {
        return true;
    }
    const auto type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

std::string trimmed(std::string_view text) {
    const icu::UnicodeString unicodeText = fromUtf8(text);
    int32_t start = 0;
    int32_t end = unicodeText.length();
    while (start < end && isWhitespaceOrNewline(unicodeText.char32At(start))) {
        start = unicodeText.moveIndex32(start, 1);
    }
    while (end > start) {
        const int32_t previous = unicodeText.moveIndex32(end, -1);
        if (!isWhitespaceOrNewline(unicodeText.char32At(previous))) {
            break;
        }
        end = previous;
    }
    return toUtf8(icu::UnicodeString(unicodeText, start, end - start));
}

bool isBlank(std::string_view text) { return trimmed(text).empty(); }

bool isLetterOrNumber(UChar32 c) {
    return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) || u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

icu::UnicodeString foldedForMatching(const icu::UnicodeString& text) {
    icu::UnicodeString caseFolded(text);
    caseFolded.foldCase(U_FOLD_CASE_DEFAULT);

    const auto& decompose = normalizer(false);
    const auto& compose = normalizer(true);
    icu::UnicodeString out;
    icu::UnicodeString decomposition;
    for (int32_t i = 0; i < caseFolded.length(); i = caseFolded.moveIndex32(i, 1)) {
        const UChar32 c = caseFolded.char32At(i);
        // Below U+00C0 and in Hangul syllables nothing decomposes into a letter and its marks.
        const bool mayDecompose = c >= 0xC0 && !isHangulSyllable(c);
        if (mayDecompose && decompose.getDecomposition(c, decomposition)) {
            icu::UnicodeString stripped;
            appendWithoutDiacritics(stripped, decomposition);
            UErrorCode status = U_ZERO_ERROR;
            out.append(compose.normalize(stripped, status));
        } else if (!isDiacriticalMark(c)) {
            out.append(c);
        }
    }
    return out.toLower(icu::Locale::getRoot());
}

std::vector<std::string> whitespaceSeparatedWords(std::string_view text) {
    const icu::UnicodeString unicodeText = fromUtf8(text);
    std::vector<std::string> words;
    int32_t wordStart = -1;
    for (int32_t i = 0; i <= unicodeText.length(); i = unicodeText.moveIndex32(i, 1)) {
        const bool separator = i == unicodeText.length() || u_isUWhiteSpace(unicodeText.char32At(i));
        if (separator && wordStart >= 0) {
            words.push_back(toUtf8(icu::UnicodeString(unicodeText, wordStart, i - wordStart)));
            wordStart = -1;
        } else if (!separator && wordStart < 0) {
            wordStart = i;
        }
        if (i == unicodeText.length()) {
            break;
        }
    }
    return words;
}

namespace {

bool isBoundary(const icu::UnicodeString& text, int32_t offset) {
    auto& iterator = characterIterator();
    iterator.setText(text);
    return iterator.isBoundary(offset);
}

} // namespace

bool endsWithCharacters(std::string_view text, std::string_view suffix) {
    const icu::UnicodeString unicodeText = fromUtf8(text);
    const icu::UnicodeString unicodeSuffix = fromUtf8(suffix);
    if (unicodeSuffix.isEmpty()) {
        return true;
    }
    if (!unicodeText.endsWith(unicodeSuffix)) {
        return false;
    }
    return isBoundary(unicodeText, unicodeText.length() - unicodeSuffix.length());
}

bool beginsWithCharacters(std::string_view text, std::string_view prefix) {
    const icu::UnicodeString unicodeText = fromUtf8(text);
    const icu::UnicodeString unicodePrefix = fromUtf8(prefix);
    if (!unicodeText.startsWith(unicodePrefix)) {
        return false;
    }
    return isBoundary(unicodeText, unicodePrefix.length());
}

} // namespace harkwell::unicode
