#include "app/ContentView.h"
#include "ModelHarness.h"
#include "app/AppDelegate.h"
#include "app/ElidedLabel.h"
#include "app/SegmentedPicker.h"
#include "app/SwitchButton.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace harkwell {
namespace {

using namespace harkwell::testing;

// Settings whose permission setup is complete, with more keys.
QByteArray setUp(const QByteArray& more = {}) { return R"({"permissionSetupComplete": true)" + more + "}"; }

class ContentViewTest : public PanelTest {
protected:
    ~ContentViewTest() override { airPods->release(); }

    void makeView(const QByteArray& settings) {
        view.reset();
        model.reset();
        model = std::make_unique<AppModel>(dependenciesWith(settings));
        view = std::make_unique<ContentView>(*model);
    }
    const ContentView::Parts& parts() const { return view->parts(); }

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
        useLanguage(locale);
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
    }
}

TEST_F(ContentViewTest, ReturnAddsKeepingTheFocusLongPhrasesAreCutAndEachRowRemovesItsOwn) {
    const QString longPhrase = "Professor Maximilian Alexander Montgomery-Worthington the Third of Lancaster";
    makeView(setUp(R"(, "wakePhrases": ["James", ")" + longPhrase.toUtf8() + R"("])"));
    view->show();
    QApplication::setActiveWindow(view.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    const auto& rows = view->phraseRows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(rows[1].phrase->displayedText().endsWith(QChar(0x2026)));
    const QToolButton& remove = *rows[1].removeButton;
    EXPECT_LE(remove.mapTo(view.get(), QPoint(remove.width(), 0)).x(), ContentView::fixedSize.width());

    parts().phraseField->setFocus();
    QTest::keyClicks(parts().phraseField, "Ann");
    QTest::keyClick(parts().phraseField, Qt::Key_Return);
    EXPECT_EQ(parts().phraseField->text(), "");
    EXPECT_TRUE(parts().phraseField->hasFocus());
    QTest::keyClicks(parts().phraseField, "Kim");
    QTest::mouseClick(parts().addButton, Qt::LeftButton);
    EXPECT_EQ(model->activeWakePhrases(), (QStringList{"James", longPhrase, "Ann", "Kim"}));
    EXPECT_FALSE(parts().addButton->isEnabled()); // nothing left to add

    QTest::mouseClick(view->phraseRows()[0].removeButton, Qt::LeftButton);
    EXPECT_EQ(model->activeWakePhrases(), (QStringList{longPhrase, "Ann", "Kim"}));
    EXPECT_EQ(view->phraseRows().size(), 3);
}

// A refused entry stays in the field with the reason under it until the draft changes; a pasted
// text is cut to the field's length; 50 phrases scroll in their own area and leave the mode and
// the shortcut in view of the pop-up.
TEST_F(ContentViewTest, RefusalsAreExplainedUnderTheFieldAndManyPhrasesScrollInTheirOwnArea) {
    QStringList phrases;
    for (int index = 1; index <= AppModel::maximumWakePhraseCount; ++index) {
        phrases.append(QString("\"Name %1\"").arg(index));
    }
    makeView(setUp(R"(, "wakePhrases": [)" + phrases.join(", ").toUtf8() + "]"));
    view->show();
    QApplication::setActiveWindow(view.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    QLineEdit& field = *parts().phraseField;
    field.setFocus();
    QTest::keyClicks(&field, "name 1");
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(field.text(), "name 1");
    EXPECT_TRUE(parts().phraseHint->isVisible());
    EXPECT_EQ(parts().phraseHint->text(), "“Name 1” is already in the list.");
    EXPECT_GE(parts().phraseHint->mapTo(view.get(), QPoint(0, 0)).y(),
              field.mapTo(view.get(), QPoint(0, field.height())).y());
    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_FALSE(parts().phraseHint->isVisible());

    QApplication::clipboard()->setText(QString(10000, QChar('x')));
    field.clear();
    field.paste();
    EXPECT_EQ(model->wakePhraseDraft().size(), ContentView::phraseFieldMaximumLength);

    const auto bottomOf = [this](const QWidget& widget) {
        return widget.mapTo(view.get(), QPoint(0, widget.height())).y();
    };
    EXPECT_GT(parts().phraseScrollArea->verticalScrollBar()->maximum(), 0);
    EXPECT_LE(bottomOf(*parts().modePicker), AppDelegate::popoverSize.height());
    EXPECT_LE(bottomOf(*parts().recordButton), AppDelegate::popoverSize.height());
    EXPECT_EQ(parts().scrollArea->verticalScrollBar()->maximum(), 0);
}

TEST_F(ContentViewTest, ThePickerMovesOnlyWithTheModelsModeAndWhileACommandRunsOnlyTheFieldAndQuitWork) {
    makeView(setUp(R"(, "selectedMode": "anc", "wakePhrases": ["James"])"));
    SegmentedPicker& picker = *parts().modePicker;
    airPods->hold();
    QTest::mouseClick(&picker.segment(1), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return airPods->commands() == std::vector<std::string>{"transparency"}; }));
    EXPECT_EQ(picker.selectedIndex(), 0);
    EXPECT_FALSE(picker.isEnabled());
    EXPECT_FALSE(view->phraseRows()[0].removeButton->isEnabled());
    EXPECT_TRUE(parts().phraseField->isEnabled());
    QSignalSpy quit(view.get(), &ContentView::quitRequested);
    QTest::mouseClick(parts().quitButtons[1], Qt::LeftButton);
    EXPECT_EQ(quit.count(), 1);

    airPods->release();
    ASSERT_TRUE(eventually([&] { return !model->isCommandRunning(); }));
    EXPECT_EQ(picker.selectedIndex(), 1);
    EXPECT_TRUE(picker.isEnabled());

    // A failed switch leaves the old segment selected and says why.
    airPods->willAnswer(AppError::airPodsNotConnected());
    QTest::mouseClick(&picker.segment(2), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !model->isCommandRunning(); }));
    EXPECT_EQ(picker.selectedIndex(), 1);
    EXPECT_FALSE(parts().errorBanners[1]->isHidden());
    EXPECT_EQ(parts().errorBanners[1]->text(), model->errorMessage());
}

TEST_F(ContentViewTest, TheDetectionSwitchShowsWhatTheModelDecided) {
    makeView(setUp());
    // No phrases: the model refuses to listen, the switch goes back off and the banner says why.
    QTest::mouseClick(parts().detectionSwitch, Qt::LeftButton);
    EXPECT_FALSE(parts().detectionSwitch->isChecked());
    EXPECT_FALSE(parts().errorBanners[1]->isHidden());

    model->setWakePhraseDraft("James");
    model->addWakePhraseFromDraft();
    QTest::mouseClick(parts().detectionSwitch, Qt::LeftButton);
    EXPECT_TRUE(model->isDetectionEnabled() && parts().detectionSwitch->isChecked());
}

TEST_F(ContentViewTest, TheShortcutRowRecordsCancelsAndClears) {
    makeView(setUp(R"(, "hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K")"));
    EXPECT_EQ(parts().shortcutDisplay->text(), "Ctrl+Alt+K");
    QTest::mouseClick(parts().recordButton, Qt::LeftButton);
    EXPECT_TRUE(model->isRecordingShortcut());
    EXPECT_EQ(parts().shortcutDisplay->text() + "/" + parts().recordButton->text(), "Recording/Cancel");
    QTest::mouseClick(parts().recordButton, Qt::LeftButton);
    EXPECT_EQ(parts().shortcutDisplay->text(), "Ctrl+Alt+K");

    QTest::mouseClick(parts().clearButton, Qt::LeftButton);
    EXPECT_FALSE(model->hotKeySetting());
    EXPECT_FALSE(parts().clearButton->isEnabled());
}

} // namespace
} // namespace harkwell
