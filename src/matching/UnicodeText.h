#pragma once

// Text primitives shared by the matching code. A "character" is a user-perceived character
// (an extended grapheme cluster). Text comes in as UTF-8; ill-formed bytes read as U+FFFD.

#include <string>
#include <string_view>
#include <vector>

#include <unicode/unistr.h>

namespace harkwell::unicode {

icu::UnicodeString fromUtf8(std::string_view text);
// Whether `text` is well-formed UTF-8 (no stray, truncated, overlong or surrogate sequences).
bool isWellFormedUtf8(std::string_view text);
std::string toUtf8(const icu::UnicodeString& text);

// Offsets (UTF-16) of every character boundary, from 0 to the length inclusive.
std::vector<int32_t> characterBoundaries(const icu::UnicodeString& text);
int32_t characterCount(std::string_view text);
// The last `count` characters of `text` (all of it when it is shorter), as well-formed UTF-8.
std::string lastCharacters(std::string_view text, int32_t count);

// The code points of the text's canonical decomposition (NFD): a Hangul syllable gives its
// letters ('민' gives 'ㅁ', 'ㅣ', 'ㄴ' as conjoining jamo), a letter with an accent the letter and
// the accent, so that spellings compare sound by sound.
std::u32string decomposedCodePoints(std::string_view text);

// Whitespace and newlines: general category Z, U+0009 to U+000D and U+0085.
bool isWhitespaceOrNewline(UChar32 c);
std::string trimmed(std::string_view text);
bool isBlank(std::string_view text);

// Letters have the Alphabetic property; numbers a numeric type other than None.
bool isLetterOrNumber(UChar32 c);

// Case and diacritical marks removed, then lower-cased. Width and precomposed Hangul
// syllables are kept as they are.
icu::UnicodeString foldedForMatching(const icu::UnicodeString& text);

// Words separated by runs of White_Space characters; no empty words.
std::vector<std::string> whitespaceSeparatedWords(std::string_view text);

// Whether `text` ends with the characters of `suffix`, on a character boundary.
bool endsWithCharacters(std::string_view text, std::string_view suffix);
// Whether `text` begins with the characters of `prefix`, on a character boundary.
bool beginsWithCharacters(std::string_view text, std::string_view prefix);

constexpr UChar32 firstHangulSyllable = 0xAC00;
constexpr UChar32 lastHangulSyllable = 0xD7A3;
constexpr bool isHangulSyllable(UChar32 c) { return c >= firstHangulSyllable && c <= lastHangulSyllable; }

} // namespace harkwell::unicode
