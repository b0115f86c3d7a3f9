#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harkwell {

// Looks a word up in the recogniser's own dictionary: its pronunciations ("JH EY M Z"), the
// most common first; empty when it has none.
using DictionaryLookup = std::function<std::vector<std::string>(std::string_view word)>;

// The pronunciations, in the phones of the US English acoustic model, of a matching token (lower
// case letters and digits) that the dictionary may not have, the most likely first. Titles as
// their spoken word ("dr" as 'doctor', never the dictionary's 'drive'); runs of digits as numbers
// ("42" as 'forty two'); a word as the dictionary says it and as Flite's CMU lexicon and
// letter-to-sound rules say it, when that differs (names are said more than one way, and for
// names no dictionary has, 'minsu', 'siobhan', the rules are all there is). None for a token
// outside a-z and 0-9.
std::vector<std::string> englishPronunciations(std::string_view token, const DictionaryLookup& dictionary);

} // namespace harkwell
