#include "ManualAnimationClock.h"
#include "app/CallDetectionHUDController.h"
#include "app/CallDetectionHUDView.h"
#include "app/ElidedLabel.h"

#include <QLabel>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using testing::ManualAnimationClock;

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
    const CallDetectionHUDView& panel() const { return controller.panel(); }

    std::shared_ptr<ManualAnimationClock> clock = std::make_shared<ManualAnimationClock>();
    QPoint pointer{1919, 1079}; // the last pixel of the first screen
    CallDetectionHUDController controller{{[this] { return pointer; }, [] { return twoScreens; }, clock}};
    int hiddenCount = 0;
    void SetUp() override {
        controller.onHidden = [this] { ++hiddenCount; };
    }
};

TEST_F(CallDetectionHUDTest, NeverTakesInputOrFocus) {
    const auto passive = Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus | Qt::WindowStaysOnTopHint;
    EXPECT_EQ(panel().windowFlags() & passive, passive);
    EXPECT_TRUE(panel().testAttribute(Qt::WA_ShowWithoutActivating));
}

TEST_F(CallDetectionHUDTest, SlidesInHoldsForTheFullTimeThenRisesOutAndHides) {
    EXPECT_FALSE(panel().isVisible());
    // With the pointer off every screen, the panel goes to the first one.
    EXPECT_EQ(CallDetectionHUDController::activeScreen({-50, -50}, twoScreens), twoScreens[0]);

    controller.show("James");
    EXPECT_EQ(panel().title().text(), CallDetectionHUDView::titleText("James"));
    EXPECT_EQ(panel().subtitle().text(), CallDetectionHUDView::subtitleText());
    EXPECT_EQ(panel().accessibleName(), CallDetectionHUDView::accessibleText("James"));
    expectAfter(0, firstOrigin, 8, 0.0);
    expectAfter(200, firstOrigin, 0, 1.0);
    expectAfter(2299, firstOrigin, 0, 1.0); // the last moment before the fade-out
    clock->advanceBy(101);
    EXPECT_LT(panel().windowOpacity(), 1.0);
    EXPECT_EQ(hiddenCount, 0);
    expectAfter(100, firstOrigin, 6, 0.0, false);
    EXPECT_EQ(hiddenCount, 1);
}

TEST_F(CallDetectionHUDTest, LongPhrasesAreCutOnOneLineInsideThePadding) {
    controller.show("Professor Maximilian Alexander Montgomery-Worthington the Third");
    EXPECT_TRUE(panel().title().displayedText().endsWith(QChar(0x2026)));
    EXPECT_LE(panel().title().geometry().right(), panel().width() - 4 - 14);
}

TEST_F(CallDetectionHUDTest, AShowWhileFadingOutMovesToThePointersScreenAndRestartsTheFullTime) {
    controller.show("James");
    clock->advanceBy(2600);
    ASSERT_TRUE(panel().isVisible());

    pointer = QPoint(1920, 0); // the first pixel of the second screen
    controller.show("Kim");
    EXPECT_EQ(panel().title().displayedText(), CallDetectionHUDView::titleText("Kim"));
    expectAfter(0, secondOrigin, 0, 1.0);
    expectAfter(2499, secondOrigin, 0, 1.0);
    EXPECT_EQ(hiddenCount, 0); // only the restarted time ends it
    expectAfter(201, secondOrigin, 6, 0.0, false);
    EXPECT_EQ(hiddenCount, 1);
}

// Where a window would take the focus (Wayland), the call is a desktop notice with the panel's
// texts and time; a second call takes the first's place and restarts the time; no window shows.
TEST_F(CallDetectionHUDTest, WithNoticesTheCallIsANoticeForThePanelsTime) {
    struct RecordingNotices final : NoticeSink {
        std::vector<DesktopNotice> shown;
        int closed = 0;
        void show(const DesktopNotice& notice) override { shown.push_back(notice); }
        void close() override { ++closed; }
    };
    auto notices = std::make_shared<RecordingNotices>();
    CallDetectionHUDController notifying{{[this] { return pointer; }, [] { return twoScreens; }, clock, notices}};
    notifying.onHidden = [this] { ++hiddenCount; };
    notifying.show("James");
    EXPECT_FALSE(notifying.panel().isVisible());
    clock->advanceBy(2000);
    notifying.show("Kim");
    ASSERT_EQ(notices->shown.size(), 2u);
    EXPECT_EQ(notices->shown[1],
              (DesktopNotice{CallDetectionHUDView::titleText("Kim"), CallDetectionHUDView::subtitleText(), 2500}));
    clock->advanceBy(CallDetectionHUDController::visibleDurationMs + CallDetectionHUDController::fadeDurationMs - 1);
    EXPECT_EQ(notices->closed, 0);
    EXPECT_EQ(hiddenCount, 0);
    clock->advanceBy(1);
    EXPECT_EQ(notices->closed, 1);
    EXPECT_EQ(hiddenCount, 1);
    EXPECT_FALSE(notifying.panel().isVisible());
}

} // namespace
} // namespace harkwell
