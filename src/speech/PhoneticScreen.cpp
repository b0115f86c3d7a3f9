#include "speech/PhoneticScreen.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace harkwell {

PhoneticScreen::PhoneticScreen(const CallPhrases& calls, double editsPerPhone) : editsPerPhone_(editsPerPhone) {
    for (const auto& phrase : calls.phrases) {
        std::vector<std::vector<std::string>> combined{{}};
        for (const auto& word : phrase) {
            const auto found = calls.wordPhones.find(word);
            if (found == calls.wordPhones.end() || found->second.empty()) {
                combined.clear();
                break;
            }
            std::vector<std::vector<std::string>> longer;
            for (const auto& start : combined) {
                for (const auto& pronunciation : found->second) {
                    auto phones = start;
                    const auto more = splitPhones(pronunciation);
                    phones.insert(phones.end(), more.begin(), more.end());
                    longer.push_back(std::move(phones));
                }
            }
            combined = std::move(longer);
        }
        for (auto& phones : combined) {
            if (!phones.empty() &&
                std::find(pronunciations_.begin(), pronunciations_.end(), phones) == pronunciations_.end()) {
                pronunciations_.push_back(std::move(phones));
            }
        }
    }
}

std::optional<std::size_t> PhoneticScreen::lastMatchEnd(const std::vector<std::vector<std::string>>& wordPhones) const {
    std::vector<std::string_view> heard;
    std::vector<std::size_t> wordOf; // the word each heard phone belongs to
    for (std::size_t word = 0; word < wordPhones.size(); ++word) {
        for (const auto& phone : wordPhones[word]) {
            heard.push_back(phone);
            wordOf.push_back(word);
        }
    }
    std::optional<std::size_t> last;
    std::vector<std::size_t> column, next;
    for (const auto& phrase : pronunciations_) {
        const auto allowed = static_cast<std::size_t>(std::floor(editsPerPhone_ * static_cast<double>(phrase.size())));
        // Approximate matching of the phrase anywhere in the heard phones: column[i] is the fewest
        // edits that turn the phrase's first i phones into a run of heard phones ending here.
        column.resize(phrase.size() + 1);
        for (std::size_t i = 0; i <= phrase.size(); ++i) {
            column[i] = i;
        }
        next.resize(column.size());
        for (std::size_t j = 0; j < heard.size(); ++j) {
            next[0] = 0;
            for (std::size_t i = 1; i <= phrase.size(); ++i) {
                next[i] =
                    std::min({column[i] + 1, next[i - 1] + 1, column[i - 1] + (phrase[i - 1] == heard[j] ? 0 : 1)});
            }
            std::swap(column, next);
            if (column[phrase.size()] <= allowed && (!last || wordOf[j] > *last)) {
                last = wordOf[j];
            }
        }
    }
    return last;
}

} // namespace harkwell
