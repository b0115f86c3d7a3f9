#pragma once

#include "model/AppModel.h"

#include <QColor>
#include <QFont>
#include <QWidget>

#include <initializer_list>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace harkwell {

class ElidedLabel;
class SegmentedPicker;
class SwitchButton;

// The control panel's parts, which its sections fill in as they build them; for the tests and
// the screenshots.
struct PanelParts {
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
    QLabel* mediaTitle = nullptr;
    QComboBox* mediaChoice = nullptr; // in the order of mediaOnCallChoices
    QWidget* recentCalls = nullptr;   // shown once a call was heard
    QLabel* recentCallsTitle = nullptr;
    ElidedLabel* recentCallLines[AppModel::recentCallLimit] = {}; // the latest first; those unused hidden
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
    QLabel* shortcutNote = nullptr;             // the model's shortcutDesktopNote, shown when there is one
    QLineEdit* shortcutConfigLine = nullptr;    // sway's config line, read-only, shown when there is one
    QPushButton* bindInDesktopButton = nullptr; // GNOME: adds the shortcut to its keyboard settings
    QLabel* startAtLoginLabel = nullptr;
    SwitchButton* startAtLoginSwitch = nullptr;
    QLabel* listenAtStartLabel = nullptr;
    SwitchButton* listenAtStartSwitch = nullptr;
};

// A row of the phrase list.
struct PanelPhraseRow {
    ElidedLabel* phrase;
    // Shown beside a phrase listening cannot hear, with the reason as its tooltip.
    QLabel* notHeardMark;
    QToolButton* removeButton;
};

// What the panel's sections share.
namespace panel {

// A box on the text background with a rounded 1-pixel outline in the separator colour.
class RoundedFrame : public QWidget {
public:
    explicit RoundedFrame(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};

QLabel* label(const QString& text, const QFont& font, QWidget* parent);
void useSecondaryColor(QWidget* widget);
// A vertical layout of owner without margins.
QVBoxLayout* column(QWidget* owner, int spacing);

// A section of the panel: it shows the model, fills in its parts and calls the model's operations.
class Section : public QWidget {
protected:
    Section(AppModel& model, PanelParts& parts, QWidget* parent) : QWidget(parent), model_(model), parts_(parts) {}

    AppModel& model_;
    PanelParts& parts_;
};

// Calls refresh now and after each of the model's changes, and only then.
template <typename Section>
void follow(AppModel& model, Section* section, void (Section::*refresh)(),
            std::initializer_list<void (AppModel::*)()> changes) {
    for (const auto change : changes) {
        QObject::connect(&model, change, section, refresh);
    }
    (section->*refresh)();
}

} // namespace panel

} // namespace harkwell
