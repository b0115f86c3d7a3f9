#pragma once

// Pieces of the matching code shared by the English and the Korean policy.

#include "matching/WakePhraseMatching.h"

#include <functional>

namespace harkwell::detail {

// The tokens joined with one space: two phrases with the same key are the same phrase.
std::string tokenKey(std::string_view text);

// Drops values whose token key is empty or was seen before; order kept, the first one wins.
std::vector<std::string> unique(const std::vector<std::string>& values);

// "configured-phrase" when the form is the phrase itself, "accepted-form" otherwise.
WakePhraseMatch makeMatch(const std::string& phrase, std::string_view transcript, const std::string& form);

} // namespace harkwell::detail
