#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
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
// then the main controls (call detection, call phrases, AirPods mode, shortcut), with the error
// banner and Quit on both. It keeps no state of its own beyond the phrase field's focus: every
// value shown is read from the model whenever the model notifies, and every control calls one
// model operation. 420 x 640 pixels.
class ContentView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize fixedSize{420, 640};
    // The phrase field takes at most this many characters, so that a pasted text cannot freeze
    // the panel; the model's limits apply to each phrase.
    static constexpr int phraseFieldMaximumLength = 500;
    // The phrase list shows this many rows at most and scrolls within them.
    static constexpr int visiblePhraseRows = 5;

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
    };
    const Parts& parts() const { return parts_; }

    // The rows of the phrase list, in the model's order.
    struct PhraseRow {
        ElidedLabel* phrase;
        QToolButton* removeButton;
    };
    const QList<PhraseRow>& phraseRows() const { return rows_; }

signals:
    // The Quit button was pressed.
    void quitRequested();

private:
    QWidget* buildHeader(int screen);
    QLabel* buildErrorBanner(int screen);
    QWidget* buildPermissionSetup();
    QWidget* buildMainControls();
    QWidget* buildDetectionToggle();
    QWidget* buildPhraseForm();
    QWidget* buildModePicker();
    QWidget* buildShortcutPicker();
    void rebuildPhraseRows();
    // Fits the phrase list's area to its rows, up to visiblePhraseRows of them.
    void fitPhraseScrollArea();
    // Shows the model's current state in every control.
    void refresh();

    AppModel& model_;
    Parts parts_;
    QStackedLayout* screens_ = nullptr;
    QVBoxLayout* rowsLayout_ = nullptr;
    QList<PhraseRow> rows_;
    QStringList shownPhrases_;
};

} // namespace harkwell
