#pragma once

#include "app/PanelParts.h"

#include <QWidget>

#include <QString>
#include <QTimer>

#include <chrono>

namespace harkwell {

// Call detection: the switch, the recogniser's notice, the sensitivity (what Low means shown while
// it is chosen), the return after a call (its title counting down while one is pending), what a
// call does to the media, the calls heard (once there are any), and the microphone with its level meter, the input used
// in place of a missing choice and the question before a Bluetooth input is chosen. While the panel is shown it reads
// the sound server's inputs every inputsInterval, and, while listening, the input level every meterInterval; hidden, it
// does neither.
class DetectionSection : public panel::Section {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds inputsInterval{2000};
    static constexpr std::chrono::milliseconds meterInterval{50};

    DetectionSection(AppModel& model, PanelParts& parts, QWidget* parent = nullptr);

    // The panel was shown or hidden.
    void setPanelShown(bool shown);

private:
    QWidget* buildDetectionToggle();
    QWidget* buildDetectionOptions();
    QWidget* buildMicrophoneChoice();
    QWidget* buildRecentCalls();
    void chooseMicrophone(int index);
    // Ends the question about a Bluetooth input, choosing it or not.
    void answerBluetoothQuestion(bool confirmed);
    // The meter runs while the panel is shown and listening is on.
    void updateMeter();
    void refreshDetectionToggle();
    void refreshDetectionOptions(); // the recogniser's notice, the sensitivity, the return's choice
    void refreshReturnTitle();      // the time left while a return is pending
    void refreshMicrophoneChoice();
    void refreshRecentCalls();

    bool isPanelShown_ = false;
    QString pendingMicrophone_; // a Bluetooth input waiting for confirmation
    QTimer inputsTimer_;
    QTimer meterTimer_;
};

} // namespace harkwell
