#include "speech/WhisperModel.h"

#include "core/Log.h"
#include "core/SerialQueue.h"
#include "speech/WhisperTranscriber.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdlib>
#include <exception>
#include <filesystem>

namespace harkwell {

std::string defaultWhisperModelPath() {
    if (const char* chosen = std::getenv("HARKWELL_WHISPER_MODEL"); chosen && *chosen) {
        return chosen;
    }
    const QDir root(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
    return root.absoluteFilePath(QStringLiteral("share/harkwell/ggml-whisper-base.bin")).toStdString();
}

WhisperModel::WhisperModel(std::string path, Loader loader, QObject* parent)
    : QObject(parent), path_(std::move(path)), loader_(std::move(loader)) {
    std::error_code error;
    state_ = !path_.empty() && std::filesystem::exists(path_, error) ? WhisperModelState::loading
                                                                     : WhisperModelState::notInstalled;
    if (state_ == WhisperModelState::notInstalled) {
        qCInfo(logSpeech) << "No accurate recognition model at" << QString::fromStdString(path_);
    }
}

// A read under way ends first (the queue waits for it): whisper.cpp's threads must not outlive
// the process's teardown.
WhisperModel::~WhisperModel() { reading_.reset(); }

void WhisperModel::load() {
    isWanted_ = true;
    if (state_ == WhisperModelState::unloaded) {
        state_ = WhisperModelState::loading;
        qCInfo(logSpeech) << "Reading the accurate recognition model again";
        emit stateChanged();
    }
    if (state_ != WhisperModelState::loading || isReading_ || !loader_) {
        return;
    }
    isReading_ = true;
    // The load reads a large file: never on the main thread.
    if (!reading_) {
        reading_ = std::make_unique<SerialQueue>("Harkwell.model");
    }
    reading_->async([this, loader = loader_, path = path_, owner = owner_.handle()] {
        std::shared_ptr<WhisperTranscriber> transcriber;
        std::string failure;
        try {
            transcriber = loader(path);
            if (!transcriber) {
                failure = "the model could not be read";
            }
        } catch (const std::exception& error) {
            failure = error.what();
        }
        owner.post([this, transcriber = std::move(transcriber), failure = std::move(failure)]() mutable {
            finishLoading(std::move(transcriber), std::move(failure));
        });
    });
}

void WhisperModel::release() {
    isWanted_ = false;
    if (state_ != WhisperModelState::ready) {
        return;
    }
    transcriber_.reset();
    state_ = WhisperModelState::unloaded;
    qCInfo(logSpeech) << "Accurate recognition model let go while nothing listens";
    emit stateChanged();
}

void WhisperModel::finishLoading(std::shared_ptr<WhisperTranscriber> transcriber, std::string failure) {
    isReading_ = false;
    if (transcriber) {
        wasRead_ = true;
        isMultilingual_ = transcriber->isMultilingual();
        qCInfo(logSpeech) << "Accurate recognition model loaded from" << QString::fromStdString(path_);
        if (isWanted_) {
            transcriber_ = std::move(transcriber);
            state_ = WhisperModelState::ready;
        } else {
            state_ = WhisperModelState::unloaded;
        }
    } else {
        failure_ = std::move(failure);
        state_ = WhisperModelState::failed;
        qCWarning(logSpeech) << "Accurate recognition model at" << QString::fromStdString(path_)
                             << "could not be loaded:" << QString::fromStdString(failure_);
    }
    emit stateChanged();
}

} // namespace harkwell
