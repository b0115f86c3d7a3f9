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

const QByteArray setUp = R"({"permissionSetupComplete": true})";
const QByteArray setUpWithPhrases = R"({"permissionSetupComplete": true, "wakePhrases": ["James", "Dr. Kim"]})";
// Control + Option + K.
const QByteArray setUpWithShortcut =
    R"({"permissionSetupComplete": true, "hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})";

class ContentViewTest : public ::testing::Test {
protected:
    ~ContentViewTest() override {
        view.reset();
        harness.airPods->release();
        model.reset();
    }

    ContentView& makeView(const QByteArray& settings) {
        model = harness.makeModel(settings);
        view = std::make_unique<ContentView>(*model);
        return *view;
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
    struct Case {
        std::string locale;
        std::vector<QString> permissionTexts; // title, explanation, button, quit
        std::vector<QString> controlTexts;    // detection, phrases, count, placeholder, empty text, mode, shortcut
        std::vector<QString> buttons;         // add, remove, record, clear, display
        std::vector<QString> segments;
    };
    const std::vector<Case> cases{
        {"en-US",
         {"Set up permissions once.",
          "Allow Microphone, Speech Recognition, and Bluetooth access to start using Harkwell.", "Set Up Permissions",
          "Quit"},
         {"Call Detection", "Call Phrases", "Active: 0", "Ann, James, Mr Smith",
          "Add a call phrase to start detection.", "AirPods Mode", "Shortcut"},
         {"Add call phrase", "Remove call phrase", "Record", "Clear", "None"},
         {"ANC", "Transparency", "Off"}},
        {"ko-KR",
         {"처음 한 번 권한을 준비합니다.",
          "마이크, 음성 인식, Bluetooth 권한을 허용하면 다음 실행부터 바로 사용할 수 있습니다.", "권한 준비", "종료"},
         {"호출 감지", "호출어", "적용 중: 0개", "이름, 팀장님, 대표님", "호출어를 추가하면 감지를 시작할 수 있습니다.",
          "AirPods 모드", "단축키"},
         {"호출어 추가", "호출어 삭제", "기록", "지우기", "없음"},
         {"노캔", "주변음", "끔"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        InterfaceLanguage chosen(c.locale);
        makeView(setUp);
        EXPECT_EQ(parts().permissionTitle->text(), c.permissionTexts[0]);
        EXPECT_EQ(parts().permissionExplanation->text(), c.permissionTexts[1]);
        EXPECT_EQ(parts().permissionButton->text(), c.permissionTexts[2]);
        for (const QToolButton* quit : parts().quitButtons) {
            EXPECT_EQ(quit->toolTip(), c.permissionTexts[3]);
        }
        EXPECT_EQ(parts().detectionLabel->text(), c.controlTexts[0]);
        EXPECT_EQ(parts().phrasesTitle->text(), c.controlTexts[1]);
        EXPECT_EQ(parts().phraseCount->text(), c.controlTexts[2]);
        EXPECT_EQ(parts().phraseField->placeholderText(), c.controlTexts[3]);
        EXPECT_EQ(parts().emptyPhrasesText->text(), c.controlTexts[4]);
        EXPECT_EQ(parts().modeTitle->text(), c.controlTexts[5]);
        EXPECT_EQ(parts().shortcutTitle->text(), c.controlTexts[6]);
        EXPECT_EQ(parts().addButton->toolTip(), c.buttons[0]);
        EXPECT_EQ(parts().recordButton->text(), c.buttons[2]);
        EXPECT_EQ(parts().clearButton->text(), c.buttons[3]);
        EXPECT_EQ(parts().shortcutDisplay->text(), c.buttons[4]);
        for (int index = 0; index < 3; ++index) {
            EXPECT_EQ(parts().modePicker->segment(index).text(), c.segments[index]);
        }

        model->setWakePhraseDraft("Ann");
        model->addWakePhraseFromDraft();
        ASSERT_EQ(view->phraseRows().size(), 1);
        EXPECT_EQ(view->phraseRows()[0].removeButton->toolTip(), c.buttons[1]);
        EXPECT_EQ(parts().phraseCount->text(), QString(c.controlTexts[2]).replace("0", "1"));
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
    makeView(setUpWithPhrases + "");
    model->setWakePhraseDraft("Ann");
    const auto commandControls = [&] {
        std::vector<std::pair<std::string, QWidget*>> controls{
            {"permission", parts().permissionButton},
            {"detection", parts().detectionSwitch},
            {"add", parts().addButton},
            {"mode", parts().modePicker},
            {"record", parts().recordButton},
        };
        for (const auto& row : view->phraseRows()) {
            controls.emplace_back("remove " + row.phrase->text().toStdString(), row.removeButton);
        }
        return controls;
    };
    ASSERT_EQ(commandControls().size(), 7u);
    for (const auto& [name, control] : commandControls()) {
        EXPECT_TRUE(control->isEnabled()) << name;
    }

    holdCommand();
    for (const auto& [name, control] : commandControls()) {
        EXPECT_FALSE(control->isEnabled()) << name << " while a command runs";
    }
    EXPECT_TRUE(parts().phraseField->isEnabled());
    EXPECT_TRUE(parts().quitButtons[0]->isEnabled());
    EXPECT_TRUE(parts().quitButtons[1]->isEnabled());

    finishCommand();
    for (const auto& [name, control] : commandControls()) {
        EXPECT_TRUE(control->isEnabled()) << name << " after the command";
    }
}

TEST_F(ContentViewTest, EnablesAddOnlyForANewPhraseAndClearOnlyWithAShortcut) {
    makeView(setUpWithPhrases);
    struct Case {
        QString draft;
        bool canAdd;
    };
    for (const auto& c : std::vector<Case>{{"", false}, {"   ", false}, {"Ann", true}, {" james ", false}}) {
        model->setWakePhraseDraft(c.draft);
        EXPECT_EQ(parts().addButton->isEnabled(), c.canAdd) << c.draft.toStdString();
    }
    EXPECT_FALSE(parts().clearButton->isEnabled());

    view.reset();
    makeView(setUpWithShortcut);
    EXPECT_EQ(parts().shortcutDisplay->text(), "⌃⌥K");
    EXPECT_TRUE(parts().clearButton->isEnabled());
    holdCommand();
    EXPECT_FALSE(parts().clearButton->isEnabled());
    finishCommand();
    QTest::mouseClick(parts().clearButton, Qt::LeftButton);
    EXPECT_EQ(parts().shortcutDisplay->text(), "None");
    EXPECT_FALSE(parts().clearButton->isEnabled());
}

TEST_F(ContentViewTest, ReturnAddsTheDraftAndKeepsTheFocus) {
    makeView(setUp);
    showActive();
    parts().phraseField->setFocus();
    QTest::keyClicks(parts().phraseField, "Ann");
    EXPECT_EQ(model->wakePhraseDraft(), "Ann");
    QTest::keyClick(parts().phraseField, Qt::Key_Return);

    EXPECT_EQ(model->activeWakePhrases(), QStringList{"Ann"});
    EXPECT_EQ(parts().phraseField->text(), "");
    EXPECT_TRUE(parts().phraseField->hasFocus());
    ASSERT_EQ(view->phraseRows().size(), 1);
    EXPECT_EQ(view->phraseRows()[0].phrase->text(), "Ann");
    EXPECT_FALSE(parts().emptyPhrasesText->isVisibleTo(view.get()));

    // Return in an empty field still asks the model, which says what is missing.
    QTest::keyClick(parts().phraseField, Qt::Key_Return);
    EXPECT_EQ(parts().errorBanners[1]->text(), "Enter a call phrase first.");
    EXPECT_TRUE(parts().phraseField->hasFocus());
}

TEST_F(ContentViewTest, TheAddButtonAddsTheDraftAndTakesTheFocusFromTheField) {
    makeView(setUpWithPhrases);
    showActive();
    parts().phraseField->setFocus();
    QTest::keyClicks(parts().phraseField, "Ann");
    QTest::mouseClick(parts().addButton, Qt::LeftButton);

    EXPECT_EQ(model->activeWakePhrases(), (QStringList{"James", "Dr. Kim", "Ann"}));
    EXPECT_FALSE(parts().phraseField->hasFocus());
    EXPECT_EQ(parts().phraseField->text(), "");
    EXPECT_FALSE(parts().addButton->isEnabled());
}

TEST_F(ContentViewTest, ListsPhrasesInOrderCutsLongOnesAndRemovesThem) {
    const QString longPhrase = "Professor Maximilian Alexander Montgomery-Worthington the Third of Lancaster";
    makeView(R"({"permissionSetupComplete": true, "wakePhrases": ["James", ")" + longPhrase.toUtf8() + R"("]})");
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

TEST_F(ContentViewTest, ShowsRecordingUntilTheModelEndsIt) {
    makeView(setUp);
    QTest::mouseClick(parts().recordButton, Qt::LeftButton);
    EXPECT_TRUE(model->isRecordingShortcut());
    EXPECT_EQ(parts().shortcutDisplay->text(), "Recording");
    EXPECT_EQ(parts().recordButton->text(), "Cancel");

    QTest::mouseClick(parts().recordButton, Qt::LeftButton);
    EXPECT_FALSE(model->isRecordingShortcut());
    EXPECT_EQ(parts().shortcutDisplay->text(), "None");
    EXPECT_EQ(parts().recordButton->text(), "Record");
}

TEST_F(ContentViewTest, TheErrorBannerAppearsWithAMessageAndTakesNoSpaceWithout) {
    makeView(setUp);
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

    model->cancelShortcutRecording(); // clears the message
    EXPECT_FALSE(parts().errorBanners[1]->isVisible());
    EXPECT_EQ(controls->sizeHint().height(), heightWithout);
}

TEST_F(ContentViewTest, TheDetectionSwitchFollowsTheModel) {
    makeView(setUpWithPhrases);
    QTest::mouseClick(parts().detectionSwitch, Qt::LeftButton);
    EXPECT_TRUE(model->isDetectionEnabled());
    EXPECT_TRUE(parts().detectionSwitch->isChecked());
    ASSERT_EQ(harness.detectors->startedWith.size(), 1u);

    QTest::mouseClick(parts().detectionSwitch, Qt::LeftButton);
    EXPECT_FALSE(model->isDetectionEnabled());
    EXPECT_FALSE(parts().detectionSwitch->isChecked());
}

TEST_F(ContentViewTest, TheModePickerAsksTheModelAndMovesOnlyWithTheModelsMode) {
    makeView(R"({"permissionSetupComplete": true, "selectedMode": "anc"})");
    QStringList calls;
    model->onCallDetected = [&](const QString& phrase) { calls.append(phrase); };
    SegmentedPicker& picker = *parts().modePicker;
    EXPECT_EQ(picker.selectedIndex(), 0);

    harness.airPods->hold();
    QTest::mouseClick(&picker.segment(1), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return harness.airPods->commands() == std::vector<std::string>{"transparency"}; }));
    EXPECT_EQ(picker.selectedIndex(), 0);
    EXPECT_TRUE(picker.segment(0).isChecked());
    EXPECT_FALSE(picker.segment(1).isChecked());
    EXPECT_FALSE(picker.isEnabled());

    finishCommand();
    EXPECT_EQ(picker.selectedIndex(), 1);
    EXPECT_TRUE(picker.segment(1).isChecked());
    EXPECT_TRUE(calls.isEmpty()); // no call is reported for a switch by hand

    // A failed switch leaves the old segment selected.
    harness.airPods->willAnswer(AppError::airPodsNotConnected());
    QTest::mouseClick(&picker.segment(2), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !model->isCommandRunning(); }));
    EXPECT_EQ(picker.selectedIndex(), 1);
    EXPECT_FALSE(picker.segment(2).isChecked());
    EXPECT_FALSE(parts().errorBanners[1]->isHidden());
}

TEST_F(ContentViewTest, QuitAsksToEndTheApplication) {
    makeView("{}");
    QSignalSpy quit(view.get(), &ContentView::quitRequested);
    QTest::mouseClick(parts().quitButtons[0], Qt::LeftButton);
    EXPECT_EQ(quit.count(), 1);
}

} // namespace
} // namespace harkwell
