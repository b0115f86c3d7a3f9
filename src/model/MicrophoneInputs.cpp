#include "model/MicrophoneInputs.h"

#include "core/Log.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace harkwell {

namespace {

// The inputs to offer, as the sound server lists them: no monitors of outputs, Bluetooth inputs
// last. Blocks until the server answers; a server out of reach lists none.
QList<MicrophoneInput> microphoneInputsOf(AudioInputList& audioInputs) {
    QList<MicrophoneInput> inputs;
    try {
        for (const auto& input : audioInputs.inputs()) {
            if (!input.isMonitor) {
                inputs.append({QString::fromStdString(input.uniqueId), QString::fromStdString(input.localizedName),
                               input.isBluetooth});
            }
        }
    } catch (const Error& error) {
        qCDebug(logModel) << "no microphones to list:" << QString::fromStdString(error.description());
    }
    std::stable_partition(inputs.begin(), inputs.end(),
                          [](const MicrophoneInput& input) { return !input.isBluetooth; });
    return inputs;
}

} // namespace

MicrophoneInputs::MicrophoneInputs(std::shared_ptr<AudioInputList> audioInputs, QObject* parent)
    : QObject(parent), audioInputs_(std::move(audioInputs)) {}

MicrophoneInputs::~MicrophoneInputs() = default;

void MicrophoneInputs::refresh() {
    if (!audioInputs_) {
        applyInputs({});
        return;
    }
    if (isReading_) {
        qCDebug(logModel) << "microphone list not read again: the last read is still under way";
        return;
    }
    isReading_ = true;
    queue_.async([this, owner = owner_.handle(), audioInputs = audioInputs_] {
        if (!owner.isAlive()) {
            return;
        }
        owner.post([this, inputs = microphoneInputsOf(*audioInputs)]() mutable {
            isReading_ = false;
            applyInputs(std::move(inputs));
        });
    });
}

void MicrophoneInputs::checkServer(std::function<void(bool answers)> answer) {
    if (!audioInputs_) {
        answer(true);
        return;
    }
    queue_.async([owner = owner_.handle(), audioInputs = audioInputs_, answer = std::move(answer)] {
        if (!owner.isAlive()) {
            return;
        }
        bool answers = true;
        try {
            audioInputs->inputs();
        } catch (const Error& error) {
            answers = !error.is(AppError::Kind::soundServerUnreachable);
        }
        owner.post([answer, answers] { answer(answers); });
    });
}

void MicrophoneInputs::applyInputs(QList<MicrophoneInput> inputs) {
    if (inputs != inputs_) {
        inputs_ = std::move(inputs);
        emit inputsChanged();
    }
}

bool MicrophoneInputs::setSource(const QString& source) {
    const bool changed = source != source_;
    source_ = source;
    emit sourceChanged();
    return changed;
}

void MicrophoneInputs::resolveSource(SourceAnswer answer) {
    if (source_.isEmpty() || !audioInputs_) {
        answer(source_.toStdString(), QString());
        return;
    }
    // Read on the inputs thread, so that a sound server that does not answer holds up the session
    // that waits for it and not the main thread.
    queue_.async([this, owner = owner_.handle(), audioInputs = audioInputs_, answer = std::move(answer)] {
        if (!owner.isAlive()) {
            return;
        }
        std::optional<std::vector<AudioInputDevice>> inputs;
        try {
            inputs = audioInputs->inputs();
        } catch (const Error&) {
            // The sound server is out of reach: the listener tells so.
        }
        owner.post([this, answer, inputs = std::move(inputs)] {
            std::string source = source_.toStdString();
            QString fallback;
            if (inputs) {
                const bool isThere = std::any_of(inputs->begin(), inputs->end(), [&](const AudioInputDevice& input) {
                    return input.uniqueId == source && !input.isMonitor;
                });
                if (const auto automatic = preferredBuiltInMicrophone(*inputs); !isThere && automatic) {
                    qCInfo(logModel) << "the chosen microphone is not there; listening on"
                                     << QString::fromStdString(automatic->localizedName);
                    source.clear();
                    fallback = QString::fromStdString(automatic->localizedName);
                }
            }
            answer(source, fallback);
        });
    });
}

} // namespace harkwell
