#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace harkwell {

// Looks a word up in the recogniser's own dictionary: its phones ("JH EY M Z"), or none.
using DictionaryLookup = std::function<std::optional<std::string>(std::string_view word)>;

// A pronunciation, in the phones of the US English acoustic model, for a matching token (lower
// case letters and digits) that the dictionary may not have: abbreviations as their spoken word
// ("dr" as 'doctor'), runs of digits as numbers ("42" as 'forty two'), and letters from the
// dictionary or, for names no dictionary has ('minsu', 'siobhan'), from Flite's CMU lexicon and
// its letter-to-sound rules. None for a token outside a-z and 0-9.
std::optional<std::string> englishPronunciation(std::string_view token, const DictionaryLookup& dictionary);

} // namespace harkwell
