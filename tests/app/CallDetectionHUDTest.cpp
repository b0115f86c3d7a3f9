#include "app/CallDetectionHUDController.h"
#include "app/CallDetectionHUDView.h"
#include "app/ElidedLabel.h"

#include <QLabel>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

// The panel's clock, moved by hand; pending wake-ups run as their time comes.
class ManualAnimationClock final : public AnimationClock {
public:
    qint64 now() const override { return now_; }
    void callAfter(int delayMs, std::function<void()> onFrame) override {
        dueAt_ = now_ + delayMs;
        onFrame_ = std::move(onFrame);
    }
    void cancel() override { onFrame_ = nullptr; }

    void advanceBy(qint64 milliseconds) {
        const qint64 target = now_ + milliseconds;
        while (onFrame_ && dueAt_ <= target) {
            now_ = dueAt_;
            auto onFrame = std::move(onFrame_);
            onFrame_ = nullptr;
            onFrame();
        }
        now_ = target;
    }

private:
    qint64 now_ = 1000;
    qint64 dueAt_ = 0;
    std::function<void()> onFrame_;
};

// Two 1920 x 1080 screens side by side; the second one's panel area starts 40 pixels down.
const QList<HUDScreen> twoScreens{
    {QRect(0, 0, 1920, 1080), QRect(0, 32, 1920, 1048)},
    {QRect(1920, 0, 1920, 1080), QRect(1920, 40, 1920, 1000)},
};
const QPoint firstOrigin{1920 / 2 - 170, 32 + 104};
const QPoint secondOrigin{1920 + 1920 / 2 - 170, 40 + 104};

class CallDetectionHUDTest : public ::testing::Test {
protected:
    // The panel after `advanceMs` more: `above` pixels over `origin`, at `opacity`, on screen or not.
    void expectAfter(qint64 advanceMs, QPoint origin, int above, qreal opacity, bool shown = true) {
        clock->advanceBy(advanceMs);
        SCOPED_TRACE(::testing::Message() << "clock at " << clock->now() << " ms");
        EXPECT_EQ(panel().pos(), origin - QPoint(0, above));
        EXPECT_EQ(panel().windowOpacity(), opacity);
        EXPECT_EQ(panel().isVisible(), shown);
    }
    // Part way through a slide or a rise of at most `distance`: between its ends, more than half opaque.
    void expectMovingAfter(qint64 advanceMs, QPoint origin, int distance) {
        clock->advanceBy(advanceMs);
        SCOPED_TRACE(::testing::Message() << "clock at " << clock->now() << " ms");
        EXPECT_TRUE(panel().isVisible());
        EXPECT_LT(panel().pos().y(), origin.y());
        EXPECT_GT(panel().pos().y(), origin.y() - distance);
        EXPECT_GT(panel().windowOpacity(), 0.5); // ease-out in, ease-in out
        EXPECT_LT(panel().windowOpacity(), 1.0);
    }
    const CallDetectionHUDView& panel() const { return controller.panel(); }

    std::shared_ptr<ManualAnimationClock> clock = std::make_shared<ManualAnimationClock>();
    QPoint pointer{100, 100};
    CallDetectionHUDController controller{{[this] { return pointer; }, [] { return twoScreens; }, clock}};
};

TEST_F(CallDetectionHUDTest, IsAHiddenFramelessClickThroughPanelThatNeverTakesFocus) {
    for (const auto flag : {Qt::FramelessWindowHint, Qt::WindowTransparentForInput, Qt::WindowDoesNotAcceptFocus,
                            Qt::WindowStaysOnTopHint, Qt::X11BypassWindowManagerHint}) {
        EXPECT_TRUE(panel().windowFlags().testFlag(flag)) << flag;
    }
    EXPECT_TRUE(panel().testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(panel().testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_FALSE(panel().isVisible());
}

TEST_F(CallDetectionHUDTest, SlidesDownWhileFadingInHoldsThenRisesWhileFadingOutAndHides) {
    controller.show("James");
    EXPECT_EQ(panel().title().text(), "Someone called you, James!");
    EXPECT_EQ(panel().subtitle().text(), "Transparency turned on");
    EXPECT_EQ(panel().accessibleName(), "Someone called you, James. Transparency turned on.");

    expectAfter(0, firstOrigin, 8, 0.0);
    expectMovingAfter(100, firstOrigin, 8);
    expectAfter(100, firstOrigin, 0, 1.0);
    expectAfter(2299, firstOrigin, 0, 1.0); // the last moment before the fade-out
    expectMovingAfter(101, firstOrigin, 6);
    expectAfter(100, firstOrigin, 6, 0.0, false);
}

TEST_F(CallDetectionHUDTest, AShowWhileOnScreenJumpsToThePointersScreenAndRestartsTheFullTime) {
    // During the fade-in, to the other screen.
    controller.show("James");
    clock->advanceBy(100);
    pointer = QPoint(2500, 500);
    controller.show("Kim");
    EXPECT_EQ(panel().title().text(), "Someone called you, Kim!");
    expectAfter(0, secondOrigin, 0, 1.0);
    expectAfter(2499, secondOrigin, 0, 1.0);
    expectMovingAfter(101, secondOrigin, 6);

    // During the fade-out, back on the first screen.
    pointer = QPoint(100, 100);
    controller.show("Ann");
    expectAfter(0, firstOrigin, 0, 1.0);
    expectAfter(2499, firstOrigin, 0, 1.0);
    expectAfter(201, firstOrigin, 6, 0.0, false);

    // Shown again from hidden, it slides in once more.
    controller.show("Ann");
    expectAfter(0, firstOrigin, 8, 0.0);
}

TEST_F(CallDetectionHUDTest, PicksTheScreenUnderThePointer) {
    struct Case {
        const char* name;
        QPoint pointer;
        QList<HUDScreen> screens;
        QPoint origin;
    };
    const std::vector<Case> cases{
        {"first pixel of the second screen", {1920, 0}, twoScreens, secondOrigin},
        {"last pixel of the first screen", {1919, 1079}, twoScreens, firstOrigin},
        {"pointer off every screen", {-50, -50}, twoScreens, firstOrigin},
        {"overlapping screens: the first in order",
         {100, 100},
         {twoScreens[1], twoScreens[0], twoScreens[0]},
         firstOrigin},
        {"no screen", {100, 100}, {}, {0, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            CallDetectionHUDController::targetOrigin(CallDetectionHUDController::activeScreen(c.pointer, c.screens)),
            c.origin)
            << c.name;
    }
}

TEST_F(CallDetectionHUDTest, CutsALongPhraseOnOneLineWithoutGrowing) {
    const QString phrase = "Professor Maximilian Alexander Montgomery-Worthington the Third";
    controller.show(phrase);
    EXPECT_EQ(panel().size(), QSize(340, 72));
    EXPECT_EQ(panel().title().text(), "Someone called you, " + phrase + "!");
    EXPECT_TRUE(panel().title().displayedText().startsWith("Someone called you, Prof"));
    EXPECT_TRUE(panel().title().displayedText().endsWith(QChar(0x2026)));
    EXPECT_LE(panel().title().geometry().right(), 340 - 4 - 14);
    EXPECT_EQ(panel().accessibleName(), "Someone called you, " + phrase + ". Transparency turned on.");

    controller.show("James");
    EXPECT_EQ(panel().title().displayedText(), "Someone called you, James!");
}

} // namespace
} // namespace harkwell
