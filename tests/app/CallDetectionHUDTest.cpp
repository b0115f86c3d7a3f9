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

class CallDetectionHUDTest : public ::testing::Test {
protected:
    CallDetectionHUDController::Environment environment() {
        return {[this] { return pointer; }, [this] { return screens; }, clock};
    }
    QPoint position() const { return controller.panel().pos(); }
    qreal opacity() const { return controller.panel().windowOpacity(); }
    bool visible() const { return controller.panel().isVisible(); }

    std::shared_ptr<ManualAnimationClock> clock = std::make_shared<ManualAnimationClock>();
    QPoint pointer{100, 100};
    QList<HUDScreen> screens = twoScreens;
    CallDetectionHUDController controller{environment()};
    const QPoint firstOrigin{1920 / 2 - 170, 32 + 104};
    const QPoint secondOrigin{1920 + 1920 / 2 - 170, 40 + 104};
};

TEST_F(CallDetectionHUDTest, IsAFramelessClickThroughPanelThatNeverTakesFocus) {
    const QWidget& panel = controller.panel();
    EXPECT_EQ(panel.size(), QSize(340, 72));
    for (const auto flag : {Qt::FramelessWindowHint, Qt::WindowTransparentForInput, Qt::WindowDoesNotAcceptFocus,
                            Qt::WindowStaysOnTopHint, Qt::X11BypassWindowManagerHint}) {
        EXPECT_TRUE(panel.windowFlags().testFlag(flag)) << flag;
    }
    EXPECT_TRUE(panel.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(panel.testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(CallDetectionHUDTest, SlidesDownWhileFadingInHoldsThenRisesWhileFadingOutAndHides) {
    controller.show("James");
    const CallDetectionHUDView& view = controller.panel();
    EXPECT_EQ(view.title().text(), "Someone called you, James!");
    EXPECT_EQ(view.subtitle().text(), "Transparency turned on");
    EXPECT_EQ(view.accessibleName(), "Someone called you, James. Transparency turned on.");

    EXPECT_TRUE(visible());
    EXPECT_EQ(position(), firstOrigin - QPoint(0, 8));
    EXPECT_EQ(opacity(), 0.0);

    clock->advanceBy(100);
    EXPECT_GT(position().y(), firstOrigin.y() - 8);
    EXPECT_LT(position().y(), firstOrigin.y());
    // Ease-out: past half way at half time.
    EXPECT_GT(opacity(), 0.5);
    EXPECT_LT(opacity(), 1.0);

    clock->advanceBy(100);
    EXPECT_EQ(position(), firstOrigin);
    EXPECT_EQ(opacity(), 1.0);

    clock->advanceBy(2299); // 2499 ms after show
    EXPECT_TRUE(visible());
    EXPECT_EQ(position(), firstOrigin);
    EXPECT_EQ(opacity(), 1.0);

    clock->advanceBy(101); // half way through the fade-out
    EXPECT_TRUE(visible());
    EXPECT_LT(position().y(), firstOrigin.y());
    EXPECT_GT(position().y(), firstOrigin.y() - 6);
    // Ease-in: less than half faded at half time.
    EXPECT_GT(opacity(), 0.5);
    EXPECT_LT(opacity(), 1.0);

    clock->advanceBy(100);
    EXPECT_FALSE(visible());
    EXPECT_EQ(position(), firstOrigin - QPoint(0, 6));
    EXPECT_EQ(opacity(), 0.0);
}

TEST_F(CallDetectionHUDTest, ASecondShowMovesItRestartsTheTimeAndDoesNotSlideInAgain) {
    controller.show("James");
    clock->advanceBy(100); // still fading in
    pointer = QPoint(2500, 500);
    controller.show("Kim");
    EXPECT_EQ(controller.panel().title().text(), "Someone called you, Kim!");
    EXPECT_EQ(position(), secondOrigin);
    EXPECT_EQ(opacity(), 1.0);

    clock->advanceBy(100);
    EXPECT_EQ(position(), secondOrigin);
    EXPECT_EQ(opacity(), 1.0);

    clock->advanceBy(2399); // 2499 ms after the second show
    EXPECT_TRUE(visible());
    EXPECT_EQ(opacity(), 1.0);
    clock->advanceBy(201);
    EXPECT_FALSE(visible());
    EXPECT_EQ(position(), secondOrigin - QPoint(0, 6));
}

TEST_F(CallDetectionHUDTest, AShowDuringTheFadeOutKeepsThePanelForItsFullTime) {
    controller.show("James");
    clock->advanceBy(2600); // fading out
    ASSERT_TRUE(visible());
    ASSERT_LT(opacity(), 1.0);

    controller.show("Kim");
    EXPECT_EQ(position(), firstOrigin);
    EXPECT_EQ(opacity(), 1.0);
    clock->advanceBy(2499);
    EXPECT_TRUE(visible());
    EXPECT_EQ(position(), firstOrigin);
    EXPECT_EQ(opacity(), 1.0);
    clock->advanceBy(201);
    EXPECT_FALSE(visible());

    // Shown again from hidden, it slides in once more.
    controller.show("Ann");
    EXPECT_TRUE(visible());
    EXPECT_EQ(position(), firstOrigin - QPoint(0, 8));
    EXPECT_EQ(opacity(), 0.0);
}

TEST_F(CallDetectionHUDTest, PicksTheScreenUnderThePointer) {
    struct Case {
        const char* name;
        QPoint pointer;
        QList<HUDScreen> screens;
        QPoint origin;
    };
    const std::vector<Case> cases{
        {"first screen", {100, 100}, twoScreens, firstOrigin},
        {"second screen", {2500, 900}, twoScreens, secondOrigin},
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
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            CallDetectionHUDController::targetOrigin(CallDetectionHUDController::activeScreen(c.pointer, c.screens)),
            c.origin);
    }

    pointer = {2500, 900};
    controller.show("James");
    clock->advanceBy(200);
    EXPECT_EQ(position(), secondOrigin);
}

TEST_F(CallDetectionHUDTest, CutsALongPhraseOnOneLineWithoutGrowing) {
    const QString phrase = "Professor Maximilian Alexander Montgomery-Worthington the Third";
    controller.show(phrase);
    const CallDetectionHUDView& view = controller.panel();
    EXPECT_EQ(view.size(), QSize(340, 72));
    EXPECT_EQ(view.title().text(), "Someone called you, " + phrase + "!");
    EXPECT_TRUE(view.title().displayedText().startsWith("Someone called you, Prof"));
    EXPECT_TRUE(view.title().displayedText().endsWith(QChar(0x2026)));
    EXPECT_LE(view.title().geometry().right(), 340 - 4 - 14);
    EXPECT_EQ(view.accessibleName(), "Someone called you, " + phrase + ". Transparency turned on.");

    controller.show("James");
    EXPECT_EQ(view.title().displayedText(), "Someone called you, James!");
}

} // namespace
} // namespace harkwell
