#pragma once

#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <chrono>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStackedLayout;
class QToolButton;
class QVBoxLayout;

namespace harkwell {

class AppModel;
class ElidedLabel;
class SegmentedPicker;
class SwitchButton;

// The control panel: the permission-setup screen until the model reports the permissions ready,
// then the main controls (call detection with the recogniser's notice, its sensitivity and the
// return after a call, call phrases, AirPods mode, shortcut, start at login and listening at
// start), with the error banner and Quit on both. It keeps no state of its own beyond the phrase
// field's focus and a Bluetooth microphone waiting for the user's confirmation: every value shown
// is read from the model when the model notifies a change of it, each part of the panel on its
// own signals, and every control calls one model operation. The phrase field holds the model's
// draft, of at most maximumWakePhraseDraftLength characters: an edit that would make it longer (a
// paste of a long list) goes to the model, which fits it in at its commas. While it is shown it
// reads the sound server's inputs every inputsInterval, and, while listening, the input level every
// meterInterval; hidden, it does neither, and the model learns that the panel closed. The banner
// takes the colour of its kind.
// 420 x 640 pixels.
class ContentView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize fixedSize{420, 640};
    // The phrase list shows this many rows at most and scrolls within them.
    static constexpr int visiblePhraseRows = 3;
    static constexpr std::chrono::milliseconds inputsInterval{2000};
    static constexpr std::chrono::milliseconds meterInterval{50};

    explicit ContentView(AppModel& model, QWidget* parent = nullptr);

    // The parts, for the tests and the screenshots.
    struct Parts {
        // Both screens.
        QWidget* permissionSetup = nullptr;
        QWidget* mainControls = nullptr;
        QToolButton* quitButtons[2] = {nullptr, nullptr}; // permission screen, main controls
        QLabel* errorBanners[2] = {nullptr, nullptr};
        // Permission screen.
        QLabel* permissionTitle = nullptr;
        QLabel* permissionExplanation = nullptr;
        QPushButton* permissionButton = nullptr;
        // Main controls.
        QScrollArea* scrollArea = nullptr;
        QLabel* detectionLabel = nullptr;
        QLabel* detectionIcon = nullptr;
        SwitchButton* detectionSwitch = nullptr;
        QLabel* recognizerNotice = nullptr; // the model's recognizerNotice, shown when there is one
        QLabel* sensitivityTitle = nullptr;
        SegmentedPicker* sensitivityPicker = nullptr; // low, medium, high
        QLabel* sensitivityHint = nullptr;            // what Low means, shown while it is chosen
        QLabel* returnTitle = nullptr;                // the time left instead while a return is pending
        QComboBox* returnChoice = nullptr;            // the model's returnAfterQuietChoices, in order
        QLabel* microphoneTitle = nullptr;
        QProgressBar* levelMeter = nullptr;    // 0 to 100, shown while listening
        QComboBox* microphoneChoice = nullptr; // automatic, then the model's inputs; data: source name
        QLabel* microphoneNotice = nullptr;    // the input used instead of a missing choice
        QWidget* bluetoothQuestion = nullptr;  // asks before a Bluetooth input is chosen
        QLabel* bluetoothQuestionText = nullptr;
        QPushButton* bluetoothConfirm = nullptr;
        QPushButton* bluetoothCancel = nullptr;
        QLabel* phrasesTitle = nullptr;
        QLabel* phraseCount = nullptr;
        QLineEdit* phraseField = nullptr;
        QToolButton* addButton = nullptr;
        QLabel* phraseHint = nullptr;
        QLabel* emptyPhrasesText = nullptr;
        QScrollArea* phraseScrollArea = nullptr;
        QWidget* phraseList = nullptr;
        QLabel* modeTitle = nullptr;
        SegmentedPicker* modePicker = nullptr;
        QLabel* shortcutTitle = nullptr;
        QLabel* shortcutDisplay = nullptr;
        QPushButton* recordButton = nullptr;
        QPushButton* clearButton = nullptr;
        QLabel* startAtLoginLabel = nullptr;
        SwitchButton* startAtLoginSwitch = nullptr;
        QLabel* listenAtStartLabel = nullptr;
        SwitchButton* listenAtStartSwitch = nullptr;
    };
    const Parts& parts() const { return parts_; }

    // The rows of the phrase list, in the model's order.
    struct PhraseRow {
        ElidedLabel* phrase;
        QToolButton* removeButton;
    };
    const QList<PhraseRow>& phraseRows() const { return rows_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

signals:
    // The Quit button was pressed.
    void quitRequested();

private:
    QWidget* buildHeader(int screen);
    QLabel* buildErrorBanner(int screen);
    QWidget* buildPermissionSetup();
    QWidget* buildMainControls();
    QWidget* buildDetectionToggle();
    QWidget* buildDetectionOptions();
    QWidget* buildMicrophoneChoice();
    void chooseMicrophone(int index);
    // Ends the question about a Bluetooth input, choosing it or not.
    void answerBluetoothQuestion(bool confirmed);
    // The meter runs while the panel is shown and listening is on.
    void updateMeter();
    QWidget* buildPhraseForm();
    QWidget* buildModePicker();
    QWidget* buildShortcutPicker();
    QWidget* buildStartupSwitches();
    void rebuildPhraseRows();
    // Fits the phrase list's area to its rows, up to visiblePhraseRows of them.
    void fitPhraseScrollArea();

    // Each shows the model's current state in one part of the panel.
    void refreshScreens(); // the screen shown, and the permission screen's button
    void refreshDetectionToggle();
    void refreshDetectionOptions(); // the recogniser's notice, the sensitivity, the return's choice
    void refreshReturnTitle();      // the time left while a return is pending
    void refreshMicrophoneChoice();
    void refreshPhraseEntry(); // the field, the add button and the hint under them
    void refreshPhraseList();
    void refreshModePicker();
    void refreshShortcut();
    void refreshStartupSwitches();
    void refreshErrorBanners();

    AppModel& model_;
    Parts parts_;
    QStackedLayout* screens_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    QList<PhraseRow> rows_;
    QStringList shownPhrases_;
    QString pendingMicrophone_; // a Bluetooth input waiting for confirmation
    QTimer inputsTimer_;
    QTimer meterTimer_;
};

} // namespace harkwell
