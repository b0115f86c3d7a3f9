#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSequentialAnimationGroup>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace harkwell {

class CallDetectionHUDView;

// A screen as the call panel places itself on it: its whole area and the part left free by
// panels and docks, in global coordinates.
struct HUDScreen {
    QRect frame;
    QRect available;
    bool operator==(const HUDScreen&) const = default;
};

// Owns the call panel: a frameless, translucent window that lets clicks through, never takes
// focus, floats above other windows on every virtual desktop, and shows "Someone called you,
// {phrase}!" near the top of the screen under the pointer. It slides down 8 pixels while it fades
// in (0.2 s, ease-out), stays until 2.5 s after the last show, then rises 6 pixels while it fades
// out (0.2 s, ease-in) and hides. All timing runs through Qt's animation clock, which tests drive
// with their own QAnimationDriver. Main thread only.
class CallDetectionHUDController : public QObject {
public:
    static constexpr QSize panelSize{340, 72};
    static constexpr int topInset = 104;           // from the top of the available area
    static constexpr int visibleDurationMs = 2500; // from show to the start of the fade-out
    static constexpr int fadeDurationMs = 200;
    static constexpr int slideInDistance = 8;
    static constexpr int riseDistance = 6;

    // Where the pointer is and which screens there are, in the system's order with the primary
    // screen first. The default reads them from the QGuiApplication.
    struct Environment {
        std::function<QPoint()> pointerPosition;
        std::function<QList<HUDScreen>()> screens;
    };
    static Environment systemEnvironment();

    // Builds the panel, hidden.
    explicit CallDetectionHUDController(Environment environment = systemEnvironment(), QObject* parent = nullptr);
    ~CallDetectionHUDController() override;

    // Shows the panel for a detected call phrase, or, while it is on screen (fading out too),
    // replaces its text, moves it to the screen under the pointer at once and restarts its time.
    void show(const QString& targetPhrase);

    // The first screen whose frame holds the pointer, else the first screen, else none.
    static std::optional<HUDScreen> activeScreen(QPoint pointer, const QList<HUDScreen>& screens);
    // Centred horizontally on the available area, topInset below its top; (0, 0) without a screen.
    static QPoint targetOrigin(const std::optional<HUDScreen>& screen);

    CallDetectionHUDView& panel() const { return *panel_; }

private:
    Environment environment_;
    std::unique_ptr<CallDetectionHUDView> panel_;
    QSequentialAnimationGroup timeline_;
};

} // namespace harkwell
