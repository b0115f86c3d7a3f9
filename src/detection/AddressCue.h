#pragma once

#include <optional>
#include <string_view>

namespace harkwell {

// How a call phrase stands in the utterance it was heard in. People call someone as they begin
// to speak, after a word that opens an address ("hey", "hi", "excuse me", "sorry"), after "you"
// ("thank you, James"), or just before they pause; a name in the middle of a sentence ("I think
// James left") is talk about someone.
enum class AddressCue {
    utteranceStart, // the phrase opens the utterance
    afterGreeting,  // "hey", "hi", "hello", "excuse me", "sorry", "ok", "okay", "oh" before it
    afterYou,       // "you" before it
    beforePause,    // nothing after it in the transcript: an address when the utterance ends
                    // there (the recogniser's next transcript is the empty one), not when the
                    // recogniser was only holding the next words back
};

// The cue of the phrase's last occurrence in the utterance's transcript (tokens as matching
// spells them); nothing when the phrase is in the middle of a sentence or not in the transcript.
std::optional<AddressCue> addressCue(std::string_view utterance, std::string_view phrase);

} // namespace harkwell
