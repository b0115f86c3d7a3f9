#pragma once

#include "matching/AppLocale.h"

#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace harkwell::bench {

// A call in a clip: the phrase, and when it ends (seconds from the clip's start).
struct Call {
    std::string phrase;
    double end = 0;
};

// One line of the manifest: a recording, the call phrases listened for, the calls in it.
struct Clip {
    std::vector<std::pair<double, double>> nearSpeech; // office: when a near talker speaks
    std::string audio;
    // The language spoken in the clip; listening follows the languages of the phrases.
    AppLocale locale = AppLocale::english;
    std::vector<std::string> phrases;
    std::vector<Call> calls;
    std::string condition;
};

// A manifest: one JSON object a line, {"audio": ..., "phrases": [...], "calls": [{"phrase", "end"}]}
// with optional "locale" ("en-US", the default, or "ko-KR"), "condition" ("calls" or "negative"
// by whether it has calls) and "nearSpeech" ([[start, end]...]); blank lines are skipped. Audio
// paths are relative to the manifest's folder. Throws std::runtime_error naming the line at fault.
std::vector<Clip> readManifest(const std::string& path);
// The same from a stream; `path` names the manifest in messages and places the audio.
std::vector<Clip> readManifest(std::istream& lines, const std::string& path);
// Adds the phrases to every clip's own, after them, each once.
void addPhrases(std::vector<Clip>& clips, const std::vector<std::string>& phrases);

} // namespace harkwell::bench
