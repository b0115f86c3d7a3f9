#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harkwell {

// How the accurate recogniser's transcripts are read against the call phrases: Whisper's prompt,
// a transcript that only repeats it, and the look without the prompt that a call must pass.

// Whether Whisper wrote out its prompt instead of what it heard, as it does with audio it cannot
// make out: two call phrases (or their accepted forms, when given them) one right after the other
// ("James, Minsu, Siobhan", "Minsu, Minsu", "민수, 민수야"). People call one name at a time, so
// such a transcript is not taken for a call.
bool echoesThePrompt(std::string_view transcript, const std::vector<std::string>& phrases);

// Whether the transcript holds something that sounds like the phrase as Whisper spells what it
// hears without being told the phrase: a run of words (as many as the phrase has, one more or one
// fewer) whose letters are at most 0.6 edits a letter away ("Minsoo" for "Minsu", "Doctor Kim" for
// "Dr. Kim"), never the words of a different sentence nor a longer word that holds the phrase
// ("Jameson" for "James"). Letters are compared decomposed: a Hangul syllable as its jamo ("민서"
// is one edit of five from "민수"). A name spelt far from its sound
// ("Siobhan", which Whisper alone writes "Shivon") does not pass: a known cost of the check.
bool soundsLike(std::string_view transcript, std::string_view phrase, double editsPerLetter = 0.6);

// The transcript with the run of words that sounds like the phrase (as soundsLike has it, the
// closest run when several do) written as the phrase, the punctuation after it kept ("Excuse me,
// Shobhan?" for "Siobhan": "Excuse me, Siobhan?"); nothing when no run does.
std::optional<std::string> spelledAsPhrase(std::string_view transcript, std::string_view phrase, double editsPerLetter);

// A window's transcript as a streaming recogniser would have delivered it while the words came:
// every prefix that ends a word ("James,", "James, come", "James, come here."), so that a name
// early in a long transcript is heard within the matching's recent window like any other.
std::vector<std::string> growingTranscripts(std::string_view transcript);

// Whisper's prompt for the call phrases: the phrases as typed, as a short list.
std::string whisperPrompt(const std::vector<std::string>& phrases);

// The words of a Korean transcript with the suffix of a call's form apart from the name ("민서야"
// as "민서 야"): the name sounds like the phrase or not, and a suffix both share does not bring a
// different name ("민호야" for 민수야) closer.
std::string withFormSuffixesApart(std::string_view transcript);

} // namespace harkwell
