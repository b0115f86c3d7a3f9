#include "BenchmarkCorpus.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <fstream>
#include <optional>
#include <stdexcept>

namespace harkwell::bench {

std::vector<Clip> readManifest(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error(path + ": cannot be read");
    }
    return readManifest(file, path);
}

std::vector<Clip> readManifest(std::istream& lines, const std::string& path) {
    const auto folder = QFileInfo(QString::fromStdString(path)).absolutePath();
    std::vector<Clip> clips;
    int lineNumber = 0;
    for (std::string line; std::getline(lines, line);) {
        ++lineNumber;
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        QJsonParseError error{};
        const auto object = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
        const auto where = path + ":" + std::to_string(lineNumber) + ": ";
        if (error.error != QJsonParseError::NoError || !object.value("audio").isString() ||
            !object.value("phrases").isArray()) {
            throw std::runtime_error(where + "expected {\"audio\": ..., \"phrases\": [...], \"calls\": [...]}");
        }
        Clip clip;
        for (const auto& span : object.value("nearSpeech").toArray()) {
            clip.nearSpeech.emplace_back(span.toArray().at(0).toDouble(), span.toArray().at(1).toDouble());
        }
        const auto audio = object.value("audio").toString();
        clip.audio = (QFileInfo(audio).isAbsolute() ? audio : folder + "/" + audio).toStdString();
        const auto localeValue = object.value("locale");
        const auto locale = localeValue.isUndefined() ? std::optional<AppLocale>(AppLocale::english)
                                                      : AppLocale::fromRawValue(localeValue.toString().toStdString());
        if (!locale) {
            throw std::runtime_error(where + "\"locale\" must be \"en-US\" or \"ko-KR\"");
        }
        clip.locale = *locale;
        for (const auto& phrase : object.value("phrases").toArray()) {
            clip.phrases.push_back(phrase.toString().toStdString());
        }
        for (const auto& call : object.value("calls").toArray()) {
            const auto callObject = call.toObject();
            if (!callObject.value("phrase").isString() || !callObject.value("end").isDouble()) {
                throw std::runtime_error(where + "each call needs \"phrase\" and \"end\" (seconds)");
            }
            clip.calls.push_back(
                {callObject.value("phrase").toString().toStdString(), callObject.value("end").toDouble()});
        }
        clip.condition = object.value("condition").toString(clip.calls.empty() ? "negative" : "calls").toStdString();
        clips.push_back(std::move(clip));
    }
    return clips;
}

void addPhrases(std::vector<Clip>& clips, const std::vector<std::string>& phrases) {
    for (auto& clip : clips) {
        for (const auto& phrase : phrases) {
            if (std::find(clip.phrases.begin(), clip.phrases.end(), phrase) == clip.phrases.end()) {
                clip.phrases.push_back(phrase);
            }
        }
    }
}

} // namespace harkwell::bench
