#pragma once

#include "app/DetectionSection.h"
#include "app/PanelParts.h"
#include "app/PhraseSection.h"

#include <QWidget>

#include <chrono>

class QStackedLayout;

namespace harkwell {

class AppModel;

// The control panel: the permission-setup screen until the model reports the permissions ready,
// then the main controls, with the error banner and Quit on both. The main controls are sections,
// each showing what the model's signals about it say and following only those: call detection
// with the microphone and its meter (DetectionSection), the call phrases (PhraseSection), the
// AirPods' mode and the shortcut (ModeShortcutSection), start at login and listening at start
// (StartupSection). The panel keeps no state of its own beyond the phrase field's focus and a
// Bluetooth microphone waiting for the user's confirmation, and every control calls one model
// operation. Hidden, the model learns that the panel closed. The banner takes the colour of its
// kind.
// 420 x 640 pixels.
class ContentView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize fixedSize{420, 640};
    // The phrase list shows this many rows at most and scrolls within them.
    static constexpr int visiblePhraseRows = PhraseSection::visibleRows;
    static constexpr std::chrono::milliseconds inputsInterval = DetectionSection::inputsInterval;
    static constexpr std::chrono::milliseconds meterInterval = DetectionSection::meterInterval;

    explicit ContentView(AppModel& model, QWidget* parent = nullptr);

    using Parts = PanelParts;
    const Parts& parts() const { return parts_; }

    // The rows of the phrase list, in the model's order.
    using PhraseRow = PanelPhraseRow;
    const QList<PhraseRow>& phraseRows() const;

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
    void refreshScreen(); // the screen shown
    void refreshErrorBanners();

    AppModel& model_;
    Parts parts_;
    QStackedLayout* screens_ = nullptr;
    DetectionSection* detection_ = nullptr;
    PhraseSection* phrases_ = nullptr;
};

} // namespace harkwell
