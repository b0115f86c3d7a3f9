#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct ps_decoder_s;

namespace harkwell {

// A second look at a call phrase's word that the decoder heard: how well the word's own sounds
// explain its stretch of audio (a forced alignment of the word) against the best sequence of any
// phones (a phone loop) over the same stretch, per 10 ms frame, in the decoder's log units. The
// decoder favours the phrase words through its language model, so an ordinary word that sounds a
// little like one ('June' for 'James') can come out as the phrase word; its own sounds then
// explain the audio much worse than free phones do. A true phrase word scores close to the loop.
//
// Runs a small decoder of its own, on the decoding thread. Not thread-safe.
class PhraseCheck {
public:
    // Takes over `decoder` (made with the main decoder's acoustic model and dictionary, without
    // a language model) and gives it a phone loop over `phoneLanguageModel` and a one-word
    // grammar for each of the words; none when PocketSphinx refuses the phone loop. A word whose
    // grammar is refused is not checked.
    static std::unique_ptr<PhraseCheck> make(ps_decoder_s* decoder, const std::string& phoneLanguageModel,
                                             const std::vector<std::string>& words);
    ~PhraseCheck();
    PhraseCheck(const PhraseCheck&) = delete;
    PhraseCheck& operator=(const PhraseCheck&) = delete;

    bool checks(const std::string& word) const { return grammars_.contains(word); }
    // The score of `word` over these samples (16 kHz, as the main decoder got them), with the
    // main decoder's cepstral mean so that both see the same features; none when it cannot be
    // told (no alignment found).
    std::optional<double> score(const std::string& word, std::span<const std::int16_t> samples,
                                ps_decoder_s* mainDecoder);

private:
    explicit PhraseCheck(ps_decoder_s* decoder) : decoder_(decoder) {}
    // The acoustic score of the search's best path over the samples, and how many frames it took.
    std::optional<std::pair<double, int>> acousticScore(const std::string& search,
                                                        std::span<const std::int16_t> samples,
                                                        const std::vector<float>& cepstralMean);

    ps_decoder_s* decoder_;
    std::map<std::string, std::string> grammars_; // word → its search's name
};

} // namespace harkwell
