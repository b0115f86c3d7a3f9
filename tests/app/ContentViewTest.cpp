#include "app/ContentView.h"
#include "ModelHarness.h"
#include "app/ElidedLabel.h"
#include "app/SegmentedPicker.h"
#include "app/SwitchButton.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using namespace harkwell::testing;

// Settings whose permission setup is complete, with more keys.
QByteArray setUp(const QByteArray& more = {}) { return R"({"permissionSetupComplete": true)" + more + "}"; }
const QByteArray twoPhrases = R"(, "wakePhrases": ["James", "Dr. Kim"])";
const QByteArray controlOptionK = R"(, "hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K")";

class ContentViewTest : public ::testing::Test {
protected:
    ~ContentViewTest() override {
        view.reset();
        harness.airPods->release();
        model.reset();
    }

    void makeView(const QByteArray& settings) {
        model = harness.makeModel(settings);
        view = std::make_unique<ContentView>(*model);
    }
    const ContentView::Parts& parts() const { return view->parts(); }

    // Shows the view as the active window, so that focus and key presses work.
    void showActive() {
        view->show();
        QApplication::setActiveWindow(view.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }

    // A mode switch that stays under way until the test releases the AirPods.
    void holdCommand() {
        harness.airPods->hold();
        model->setAirPodsMode(ListeningMode::transparency);
        ASSERT_TRUE(model->isCommandRunning());
    }
    void finishCommand() {
        harness.airPods->release();
        ASSERT_TRUE(eventually([&] { return !model->isCommandRunning(); }));
    }

    InterfaceLanguage language{"en-US"};
    ModelHarness harness;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<ContentView> view;
};

TEST_F(ContentViewTest, ShowsEveryTextInTheInterfaceLanguage) {
    // Permission screen, main controls, then with one phrase its remove button and the count.
    const std::vector<std::pair<std::string, std::string>> cases{
        {"en-US", "Set up permissions once.\n"
                  "Allow Microphone, Speech Recognition, and Bluetooth access to start using Harkwell.\n"
                  "Set Up Permissions\nQuit\nQuit\nCall Detection\nCall Phrases\nActive: 0\nAnn, James, Mr Smith\n"
                  "Add a call phrase to start detection.\nAdd call phrase\nAirPods Mode\nANC\nTransparency\nOff\n"
                  "Shortcut\nNone\nRecord\nClear\nRemove call phrase\nActive: 1"},
        {"ko-KR", "처음 한 번 권한을 준비합니다.\n"
                  "마이크, 음성 인식, Bluetooth 권한을 허용하면 다음 실행부터 바로 사용할 수 있습니다.\n"
                  "권한 준비\n종료\n종료\n호출 감지\n호출어\n적용 중: 0개\n이름, 팀장님, 대표님\n"
                  "호출어를 추가하면 감지를 시작할 수 있습니다.\n호출어 추가\nAirPods 모드\n노캔\n주변음\n끔\n"
                  "단축키\n없음\n기록\n지우기\n호출어 삭제\n적용 중: 1개"},
    };
    for (const auto& [locale, texts] : cases) {
        SCOPED_TRACE(locale);
        InterfaceLanguage chosen(locale);
        makeView(setUp());
        const ContentView::Parts& p = parts();
        QStringList shown;
        shown << p.permissionTitle->text() << p.permissionExplanation->text() << p.permissionButton->text()
              << p.quitButtons[0]->toolTip() << p.quitButtons[1]->toolTip() << p.detectionLabel->text()
              << p.phrasesTitle->text() << p.phraseCount->text() << p.phraseField->placeholderText()
              << p.emptyPhrasesText->text() << p.addButton->toolTip() << p.modeTitle->text()
              << p.modePicker->segment(0).text() << p.modePicker->segment(1).text() << p.modePicker->segment(2).text()
              << p.shortcutTitle->text() << p.shortcutDisplay->text() << p.recordButton->text()
              << p.clearButton->text();
        model->setWakePhraseDraft("Ann");
        model->addWakePhraseFromDraft();
        ASSERT_EQ(view->phraseRows().size(), 1);
        shown << view->phraseRows()[0].removeButton->toolTip() << p.phraseCount->text();
        EXPECT_EQ(shown.join('\n').toStdString(), texts);
        view.reset();
        model.reset();
    }
}

TEST_F(ContentViewTest, ShowsThePermissionScreenUntilTheModelReportsSetupComplete) {
    makeView("{}");
    EXPECT_TRUE(parts().permissionSetup->isVisibleTo(view.get()));
    EXPECT_FALSE(parts().mainControls->isVisibleTo(view.get()));

    harness.airPods->hold();
    QTest::mouseClick(parts().permissionButton, Qt::LeftButton);
    ASSERT_TRUE(
        eventually([&] { return harness.airPods->commands() == std::vector<std::string>{"request-permission"}; }));
    EXPECT_EQ(parts().permissionButton->text(), "Checking Bluetooth permission");
    EXPECT_FALSE(parts().permissionButton->isEnabled());

    harness.airPods->release();
    ASSERT_TRUE(eventually([&] { return model->isPermissionSetupComplete(); }));
    EXPECT_FALSE(parts().permissionSetup->isVisibleTo(view.get()));
    EXPECT_TRUE(parts().mainControls->isVisibleTo(view.get()));
    EXPECT_EQ(parts().permissionButton->text(), "Set Up Permissions");
}

TEST_F(ContentViewTest, DisablesEveryCommandButNotTheFieldOrQuitWhileACommandRuns) {
    makeView(setUp(controlOptionK + twoPhrases));
    model->setWakePhraseDraft("Ann");
    const auto expectCommandsEnabled = [&](bool enabled) {
        std::vector<std::pair<std::string, QWidget*>> controls{{"permission", parts().permissionButton},
                                                               {"detection", parts().detectionSwitch},
                                                               {"add", parts().addButton},
                                                               {"mode", parts().modePicker},
                                                               {"record", parts().recordButton},
                                                               {"clear", parts().clearButton}};
        for (const auto& row : view->phraseRows()) {
            controls.emplace_back("remove " + row.phrase->text().toStdString(), row.removeButton);
        }
        ASSERT_EQ(controls.size(), 8u);
        for (const auto& [name, control] : controls) {
            EXPECT_EQ(control->isEnabled(), enabled) << name;
        }
    };
    expectCommandsEnabled(true);

    holdCommand();
    expectCommandsEnabled(false);
    EXPECT_TRUE(parts().phraseField->isEnabled());
    QSignalSpy quit(view.get(), &ContentView::quitRequested);
    for (QToolButton* button : parts().quitButtons) {
        QTest::mouseClick(button, Qt::LeftButton);
    }
    EXPECT_EQ(quit.count(), 2);

    finishCommand();
    expectCommandsEnabled(true);
}

TEST_F(ContentViewTest, ReturnAddsTheDraftKeepingTheFocusAndTheAddButtonTakesIt) {
    makeView(setUp());
    showActive();
    EXPECT_TRUE(parts().emptyPhrasesText->isVisibleTo(view.get()));
    parts().phraseField->setFocus();
    QTest::keyClicks(parts().phraseField, "James");
    EXPECT_EQ(model->wakePhraseDraft(), "James");
    QTest::keyClick(parts().phraseField, Qt::Key_Return);

    EXPECT_EQ(model->activeWakePhrases(), QStringList{"James"});
    EXPECT_EQ(parts().phraseField->text(), "");
    EXPECT_TRUE(parts().phraseField->hasFocus());
    ASSERT_EQ(view->phraseRows().size(), 1);
    EXPECT_EQ(view->phraseRows()[0].phrase->text(), "James");
    EXPECT_FALSE(parts().emptyPhrasesText->isVisibleTo(view.get()));

    // Return in an empty field still asks the model, which says what is missing.
    QTest::keyClick(parts().phraseField, Qt::Key_Return);
    EXPECT_EQ(parts().errorBanners[1]->text(), "Enter a call phrase first.");
    EXPECT_TRUE(parts().phraseField->hasFocus());

    // The add button only for a new phrase; a click leaves nothing focused.
    for (const auto& [draft, canAdd] :
         std::vector<std::pair<QString, bool>>{{"", false}, {"   ", false}, {" james ", false}, {"Ann", true}}) {
        model->setWakePhraseDraft(draft);
        EXPECT_EQ(parts().addButton->isEnabled(), canAdd) << draft.toStdString();
    }
    QTest::mouseClick(parts().addButton, Qt::LeftButton);
    EXPECT_EQ(model->activeWakePhrases(), (QStringList{"James", "Ann"}));
    EXPECT_FALSE(parts().phraseField->hasFocus());
    EXPECT_EQ(parts().phraseField->text(), "");
    EXPECT_FALSE(parts().addButton->isEnabled());
}

TEST_F(ContentViewTest, ListsPhrasesInOrderCutsLongOnesAndRemovesThem) {
    const QString longPhrase = "Professor Maximilian Alexander Montgomery-Worthington the Third of Lancaster";
    makeView(setUp(R"(, "wakePhrases": ["James", ")" + longPhrase.toUtf8() + R"("])"));
    showActive();
    const auto& rows = view->phraseRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].phrase->text(), "James");
    EXPECT_EQ(rows[0].phrase->displayedText(), "James");
    EXPECT_EQ(rows[1].phrase->text(), longPhrase);
    EXPECT_TRUE(rows[1].phrase->displayedText().endsWith(QChar(0x2026)));
    EXPECT_EQ(rows[1].phrase->height(), rows[0].phrase->height()); // one line
    // The remove button stays inside the row, at its right.
    const QWidget* row = rows[1].removeButton->parentWidget();
    EXPECT_LE(rows[1].removeButton->geometry().right(), row->width());
    EXPECT_LE(row->mapTo(view.get(), QPoint(row->width(), 0)).x(), ContentView::fixedSize.width());

    QTest::mouseClick(rows[0].removeButton, Qt::LeftButton);
    EXPECT_EQ(model->activeWakePhrases(), QStringList{longPhrase});
    ASSERT_EQ(view->phraseRows().size(), 1);
    EXPECT_EQ(view->phraseRows()[0].phrase->text(), longPhrase);
}

TEST_F(ContentViewTest, TheShortcutRowRecordsCancelsAndClears) {
    makeView(setUp(controlOptionK));
    EXPECT_EQ(parts().shortcutDisplay->text(), "⌃⌥K");
    EXPECT_TRUE(parts().clearButton->isEnabled());

    QTest::mouseClick(parts().recordButton, Qt::LeftButton);
    EXPECT_TRUE(model->isRecordingShortcut());
    EXPECT_EQ(parts().shortcutDisplay->text(), "Recording");
    EXPECT_EQ(parts().recordButton->text(), "Cancel");
    QTest::mouseClick(parts().recordButton, Qt::LeftButton);
    EXPECT_FALSE(model->isRecordingShortcut());
    EXPECT_EQ(parts().shortcutDisplay->text(), "⌃⌥K");
    EXPECT_EQ(parts().recordButton->text(), "Record");

    QTest::mouseClick(parts().clearButton, Qt::LeftButton);
    EXPECT_EQ(parts().shortcutDisplay->text(), "None");
    EXPECT_FALSE(parts().clearButton->isEnabled());
}

TEST_F(ContentViewTest, TheDetectionSwitchShowsWhatTheModelDecidedAndTheBannerWhy) {
    makeView(setUp());
    showActive();
    QWidget* controls = parts().scrollArea->widget();
    const int heightWithout = controls->sizeHint().height();
    EXPECT_FALSE(parts().errorBanners[1]->isVisible());

    // No phrases: the model refuses to listen and says why; the switch shows off again.
    QTest::mouseClick(parts().detectionSwitch, Qt::LeftButton);
    EXPECT_FALSE(parts().detectionSwitch->isChecked());
    EXPECT_TRUE(parts().errorBanners[1]->isVisible());
    EXPECT_EQ(parts().errorBanners[1]->text(), "Add a call phrase first.");
    EXPECT_GT(controls->sizeHint().height(), heightWithout);

    model->cancelShortcutRecording(); // clears the message, and the banner takes no space
    EXPECT_FALSE(parts().errorBanners[1]->isVisible());
    EXPECT_EQ(controls->sizeHint().height(), heightWithout);

    model->setWakePhraseDraft("James");
    model->addWakePhraseFromDraft();
    for (const bool on : {true, false}) {
        QTest::mouseClick(parts().detectionSwitch, Qt::LeftButton);
        EXPECT_EQ(model->isDetectionEnabled(), on);
        EXPECT_EQ(parts().detectionSwitch->isChecked(), on);
    }
    EXPECT_EQ(harness.detectors->startedWith.size(), 1u);
}

TEST_F(ContentViewTest, TheModePickerAsksTheModelAndMovesOnlyWithTheModelsMode) {
    makeView(setUp(R"(, "selectedMode": "anc")"));
    QStringList calls;
    model->onCallDetected = [&](const QString& phrase) { calls.append(phrase); };
    SegmentedPicker& picker = *parts().modePicker;
    const auto expectSelected = [&](int index) {
        EXPECT_EQ(picker.selectedIndex(), index);
        for (int segment = 0; segment < 3; ++segment) {
            EXPECT_EQ(picker.segment(segment).isChecked(), segment == index) << segment;
        }
    };
    expectSelected(0);

    harness.airPods->hold();
    QTest::mouseClick(&picker.segment(1), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return harness.airPods->commands() == std::vector<std::string>{"transparency"}; }));
    expectSelected(0);
    EXPECT_FALSE(picker.isEnabled());

    finishCommand();
    expectSelected(1);
    EXPECT_TRUE(calls.isEmpty()); // no call is reported for a switch by hand

    // A failed switch leaves the old segment selected.
    harness.airPods->willAnswer(AppError::airPodsNotConnected());
    QTest::mouseClick(&picker.segment(2), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !model->isCommandRunning(); }));
    expectSelected(1);
    EXPECT_FALSE(parts().errorBanners[1]->isHidden());
}

} // namespace
} // namespace harkwell
