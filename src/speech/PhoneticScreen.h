#pragma once

#include "speech/CallVocabulary.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace harkwell {

// Whether the basic recogniser's words sound like a call phrase, phone by phone: a cheap look for
// a name it wrote as other words ("show von" for Siobhan, "chains" for James), to decide whether a
// stretch of talk is worth the accurate recogniser. A run of the words' phones, across word
// boundaries, counts when it is within `editsPerPhone` phone edits a phone of one of the phrase's
// pronunciations (every combination of its words' pronunciations).
//
// Pure and cheap: a few thousand cell updates for a hypothesis of twenty words.
class PhoneticScreen {
public:
    PhoneticScreen(const CallPhrases& calls, double editsPerPhone);

    // The heard words, each as the phones of its pronunciation (JH, EY, M, Z; none for a word the
    // dictionary lacks): the index of the last word of the latest run that sounds like a phrase.
    std::optional<std::size_t> lastMatchEnd(const std::vector<std::vector<std::string>>& wordPhones) const;

private:
    std::vector<std::vector<std::string>> pronunciations_; // every phrase's, as phones
    double editsPerPhone_;
};

} // namespace harkwell
