#include "speech/Pronunciation.h"

extern "C" {
#include <flite/cst_lexicon.h>
#include <flite/cst_val.h>
cst_lexicon* cmu_lex_init(void);
}

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace harkwell {

namespace {

// Titles and other short forms people type in a call phrase, as they are spoken.
constexpr std::array<std::pair<std::string_view, std::string_view>, 14> spokenAbbreviations{{
    {"dr", "doctor"},
    {"mr", "mister"},
    {"mrs", "missus"},
    {"ms", "miz"},
    {"mx", "mix"},
    {"prof", "professor"},
    {"st", "saint"},
    {"jr", "junior"},
    {"sr", "senior"},
    {"capt", "captain"},
    {"sgt", "sergeant"},
    {"lt", "lieutenant"},
    {"col", "colonel"},
    {"gen", "general"},
}};

constexpr std::array<std::string_view, 20> smallNumbers{
    "zero", "one",    "two",    "three",    "four",     "five",    "six",     "seven",     "eight",    "nine",
    "ten",  "eleven", "twelve", "thirteen", "fourteen", "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"};
constexpr std::array<std::string_view, 10> tens{"",      "",      "twenty",  "thirty", "forty",
                                                "fifty", "sixty", "seventy", "eighty", "ninety"};

// The words of a run of digits: numbers below a thousand as one says them, longer runs digit by digit.
std::vector<std::string> numberWords(std::string_view digits) {
    std::vector<std::string> words;
    if (digits.size() > 3 || (digits.size() > 1 && digits.front() == '0')) {
        for (const char digit : digits) {
            words.emplace_back(smallNumbers[digit - '0']);
        }
        return words;
    }
    int value = std::stoi(std::string(digits));
    if (value >= 100) {
        words.emplace_back(smallNumbers[value / 100]);
        words.emplace_back("hundred");
        value %= 100;
        if (value == 0) {
            return words;
        }
    }
    if (value < 20) {
        words.emplace_back(smallNumbers[value]);
    } else {
        words.emplace_back(tens[value / 10]);
        if (value % 10 != 0) {
            words.emplace_back(smallNumbers[value % 10]);
        }
    }
    return words;
}

// Flite's phones are the model's, in lower case with stress digits ("ey1"); "ax" is its schwa.
std::optional<std::string> fliteLetterToSound(const std::string& letters) {
    static std::mutex mutex; // Flite's lexicon is shared state
    const std::lock_guard lock(mutex);
    static cst_lexicon* const lexicon = cmu_lex_init();
    static const std::set<std::string> modelPhones{"AA", "AE", "AH", "AO", "AW", "AY", "B",  "CH", "D",  "DH",
                                                   "EH", "ER", "EY", "F",  "G",  "HH", "IH", "IY", "JH", "K",
                                                   "L",  "M",  "N",  "NG", "OW", "OY", "P",  "R",  "S",  "SH",
                                                   "T",  "TH", "UH", "UW", "V",  "W",  "Y",  "Z",  "ZH"};
    cst_val* phones = lex_lookup(lexicon, letters.c_str(), nullptr, nullptr);
    std::string result;
    for (const cst_val* item = phones; item; item = val_cdr(item)) {
        std::string phone;
        for (const char c : std::string_view(val_string(val_car(item)))) {
            if (std::isalpha(static_cast<unsigned char>(c))) {
                phone += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
        }
        if (phone == "AX") {
            phone = "AH";
        }
        if (modelPhones.contains(phone)) {
            result += (result.empty() ? "" : " ") + phone;
        }
    }
    delete_val(phones);
    if (result.empty()) {
        return std::nullopt;
    }
    return result;
}

// The pronunciations of a run of letters: a title as its spoken word, else the dictionary's and
// Flite's.
std::vector<std::string> lettersPronunciations(const std::string& letters, const DictionaryLookup& dictionary) {
    for (const auto& [abbreviation, spoken] : spokenAbbreviations) {
        if (letters == abbreviation) {
            if (auto phones = dictionary(spoken); !phones.empty()) {
                return phones;
            }
        }
    }
    auto phones = dictionary(letters);
    if (auto rules = fliteLetterToSound(letters);
        rules && std::find(phones.begin(), phones.end(), *rules) == phones.end()) {
        phones.push_back(std::move(*rules));
    }
    return phones;
}

} // namespace

std::vector<std::string> englishPronunciations(std::string_view token, const DictionaryLookup& dictionary) {
    if (token.empty()) {
        return {};
    }
    std::vector<std::string> parts; // runs of letters and runs of digits
    for (const char c : token) {
        const bool isDigit = c >= '0' && c <= '9';
        if (!isDigit && !(c >= 'a' && c <= 'z')) {
            return {};
        }
        if (parts.empty() || (parts.back().front() >= '0' && parts.back().front() <= '9') != isDigit) {
            parts.emplace_back();
        }
        parts.back() += c;
    }
    if (parts.size() == 1 && !(parts[0].front() >= '0' && parts[0].front() <= '9')) {
        return lettersPronunciations(parts[0], dictionary);
    }
    // The whole token first: the dictionary knows many words with digits and letters mixed.
    if (parts.size() > 1) {
        if (auto phones = dictionary(token); !phones.empty()) {
            return phones;
        }
    }
    // Otherwise part after part, each as it is most often said.
    std::string result;
    for (const auto& part : parts) {
        std::vector<std::string> words;
        if (part.front() >= '0' && part.front() <= '9') {
            words = numberWords(part);
        } else {
            words = {part};
        }
        for (const auto& word : words) {
            const auto phones = lettersPronunciations(word, dictionary);
            if (phones.empty()) {
                return {};
            }
            result += (result.empty() ? "" : " ") + phones.front();
        }
    }
    return {result};
}

} // namespace harkwell
