#pragma once

#include "core/OwnerContext.h"
#include "core/SerialQueue.h"
#include "detection/AudioCapture.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

namespace harkwell {

// A microphone the user can choose: the sound server's source name and its description.
struct MicrophoneInput {
    QString id;
    QString description;
    bool isBluetooth = false;
    bool operator==(const MicrophoneInput&) const = default;
};

// The microphones to choose from and the one chosen. The sound server is read on the
// "Harkwell.inputs" thread, one read at a time, and what it lists arrives on the main thread, which
// alone reads and writes the state. Destruction waits for a read under way, which the sound server
// answers or gives up within its time-out (5 s); what it brings is dropped.
class MicrophoneInputs : public QObject {
    Q_OBJECT

public:
    // Without a list of the sound server's inputs only the automatic choice is offered.
    explicit MicrophoneInputs(std::shared_ptr<AudioInputList> audioInputs, QObject* parent = nullptr);
    ~MicrophoneInputs() override;

    // The inputs as last read, in the sound server's order with Bluetooth inputs last; monitors of
    // outputs are left out.
    const QList<MicrophoneInput>& inputs() const { return inputs_; }
    // Reads the inputs again (a server out of reach lists none); inputsChanged follows when the
    // list differs. While a read is under way, a refresh does nothing: a server that hangs holds
    // one read, not a queue.
    void refresh();

    // The chosen input's source name; empty for the automatic choice (the built-in microphone).
    const QString& source() const { return source_; }
    // Notifies; true when the choice changed.
    bool setSource(const QString& source);

    // Where a listening session listens: the source to open, and the description of the input used
    // in place of a chosen one that is not there (else empty).
    using SourceAnswer = std::function<void(const std::string& source, const QString& fallback)>;
    // Answers at once for the automatic choice or without a list of inputs; for a chosen input,
    // once the inputs have been read on the inputs thread, on the main thread and only while this
    // lives. A chosen input that is gone gives way to the automatic choice, never a Bluetooth
    // input; without one, or with the server out of reach, the chosen source stays, and the
    // listener tells what is wrong.
    void resolveSource(SourceAnswer answer);
    // Whether the sound server answers (lists its inputs), read on the inputs thread; the answer
    // comes on the main thread, only while this lives. Without a list of inputs: yes, at once.
    void checkServer(std::function<void(bool answers)> answer);

signals:
    void inputsChanged();
    void sourceChanged();

private:
    void applyInputs(QList<MicrophoneInput> inputs);

    std::shared_ptr<AudioInputList> audioInputs_;
    SerialQueue queue_{"Harkwell.inputs"};
    QList<MicrophoneInput> inputs_;
    bool isReading_ = false;
    QString source_;
    // Last, so that it goes first: what a read brings after this has gone is dropped.
    OwnerContext owner_;
};

} // namespace harkwell
