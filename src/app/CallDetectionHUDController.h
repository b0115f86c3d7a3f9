#pragma once

#include "app/AnimationClock.h"
#include "desktop/DesktopNotifications.h"

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
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
// out (0.2 s, ease-in) and hides. Main thread only. The window's object name, "callPanel", is also
// its X11 window role.
//
// Where a window can be neither placed nor kept from the focus (Wayland), the call goes to the
// desktop's notifications instead, with the same texts and the same time on screen; no window is
// shown then.
class CallDetectionHUDController : public QObject {
public:
    static constexpr QSize panelSize{340, 72};
    static constexpr int topInset = 104;           // from the top of the available area
    static constexpr int visibleDurationMs = 2500; // from show to the start of the fade-out
    static constexpr int fadeDurationMs = 200;
    static constexpr int slideInDistance = 8;
    static constexpr int riseDistance = 6;
    static constexpr int frameIntervalMs = 16;

    // Where the pointer is, which screens there are (in the system's order, the primary screen
    // first) and the clock the animation runs on; the notices that stand in for the window where
    // there are any. The default reads the QGuiApplication, with the desktop's notifications in a
    // Wayland session.
    struct Environment {
        std::function<QPoint()> pointerPosition;
        std::function<QList<HUDScreen>()> screens;
        std::shared_ptr<AnimationClock> clock;
        std::shared_ptr<NoticeSink> notices = nullptr;
    };
    static Environment systemEnvironment();

    // How the panel looks a time after the show that placed it: its opacity, how far above its
    // place it is, and whether it is on screen at all.
    struct Frame {
        qreal opacity = 0;
        int offsetAbove = 0;
        bool isVisible = false;
    };
    // slidesIn: the show found the panel hidden and brings it in; otherwise it is there at once.
    static Frame frameAt(qint64 elapsedMs, bool slidesIn);

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

    // Called each time the panel has faded out and left the screen.
    std::function<void()> onHidden;

private:
    // Sends the call to the notices and ends it after the panel's time.
    void notify(const QString& targetPhrase);
    // Draws the frame for the clock's time and asks for the next one while anything moves.
    void updateFrame();

    Environment environment_;
    std::unique_ptr<CallDetectionHUDView> panel_;
    QPoint origin_;
    qint64 shownAt_ = 0;
    bool slidesIn_ = false;
};

} // namespace harkwell
