#include "speech/PhraseCheck.h"

#include "core/Log.h"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/feat.h>

namespace harkwell {

namespace {

constexpr const char* phoneLoop = "phone loop";

std::vector<float> cepstralMean(ps_decoder_t* decoder) {
    cmn_t* cmn = ps_get_feat(decoder)->cmn_struct;
    std::vector<float> mean(static_cast<std::size_t>(cmn->veclen));
    cmn_live_get(cmn, mean.data());
    return mean;
}

} // namespace

std::unique_ptr<PhraseCheck> PhraseCheck::make(ps_decoder_t* decoder, const std::string& phoneLanguageModel,
                                               const std::vector<std::string>& words) {
    if (!decoder) {
        return nullptr;
    }
    std::unique_ptr<PhraseCheck> check(new PhraseCheck(decoder));
    // PocketSphinx's phone loop with the model's phone language model: the loop then follows the
    // phone sequences of the language, against which a word that was not said stands out (a
    // loop of any phones in any order explains every stretch too well to tell).
    if (ps_set_allphone_file(decoder, phoneLoop, phoneLanguageModel.c_str()) != 0) {
        qCWarning(logSpeech) << "PocketSphinx refused the phone loop of" << phoneLanguageModel.c_str();
        return nullptr;
    }
    for (const auto& word : words) {
        const auto name = "word " + word;
        const auto grammar = "#JSGF V1.0;\ngrammar word;\npublic <word> = " + word + ";\n";
        if (ps_set_jsgf_string(decoder, name.c_str(), grammar.c_str()) == 0) {
            check->grammars_.emplace(word, name);
        } else {
            qCDebug(logSpeech) << "No second look at" << word.c_str() << ": its grammar was refused";
        }
    }
    return check;
}

PhraseCheck::~PhraseCheck() { ps_free(decoder_); }

std::optional<std::pair<double, int>> PhraseCheck::acousticScore(const std::string& search,
                                                                 std::span<const std::int16_t> samples,
                                                                 const std::vector<float>& mean) {
    if (ps_set_search(decoder_, search.c_str()) != 0) {
        return std::nullopt;
    }
    cmn_live_set(ps_get_feat(decoder_)->cmn_struct, mean.data());
    ps_start_utt(decoder_);
    ps_process_raw(decoder_, samples.data(), samples.size(), FALSE, FALSE);
    ps_end_utt(decoder_);
    double total = 0;
    bool found = false;
    for (ps_seg_t* segment = ps_seg_iter(decoder_); segment; segment = ps_seg_next(segment)) {
        int32 acoustic = 0, language = 0, backoff = 0;
        ps_seg_prob(segment, &acoustic, &language, &backoff);
        total += acoustic;
        found = true;
    }
    if (!found) {
        return std::nullopt;
    }
    return std::pair{total, ps_get_n_frames(decoder_)};
}

std::optional<double> PhraseCheck::score(const std::string& word, std::span<const std::int16_t> samples,
                                         ps_decoder_t* mainDecoder) {
    const auto grammar = grammars_.find(word);
    if (grammar == grammars_.end()) {
        return std::nullopt;
    }
    const auto mean = cepstralMean(mainDecoder);
    const auto aligned = acousticScore(grammar->second, samples, mean);
    const auto free = acousticScore(phoneLoop, samples, mean);
    if (!aligned || !free || aligned->second <= 0) {
        return std::nullopt;
    }
    return (aligned->first - free->first) / aligned->second;
}

} // namespace harkwell
