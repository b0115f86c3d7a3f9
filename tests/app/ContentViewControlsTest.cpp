// The control panel's phrases, mode, shortcut and start-up sections.
#include "ContentViewHarness.h"
#include "app/AppDelegate.h"
#include "app/ContentView.h"
#include "app/ElidedLabel.h"
#include "app/PanelTexts.h"
#include "app/SegmentedPicker.h"
#include "app/SwitchButton.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <functional>
#include <future>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace harkwell {
namespace {

using namespace harkwell::testing;

// Return adds the draft keeping the focus in the field, the add button takes it; each row removes its own phrase.
TEST_F(ContentViewTest, PhrasesAreAddedFromTheFieldAndRemovedByTheirRow) {
    makeView(setUp(R"(, "wakePhrases": ["James"])"));
    QLineEdit& field = focusedField();
    QTest::keyClicks(&field, "Ann");
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(model->activeWakePhrases(), (QStringList{"James", "Ann"}));
    EXPECT_EQ(field.text(), "");
    EXPECT_TRUE(field.hasFocus());
    QTest::keyClicks(&field, "Kim");
    QTest::mouseClick(parts().addButton, Qt::LeftButton);
    EXPECT_EQ(model->activeWakePhrases(), (QStringList{"James", "Ann", "Kim"}));
    EXPECT_EQ(field.text(), "");
    EXPECT_FALSE(field.hasFocus());
    EXPECT_FALSE(parts().addButton->isEnabled()); // nothing left to add

    QTest::mouseClick(view->phraseRows()[1].removeButton, Qt::LeftButton);
    EXPECT_EQ(model->activeWakePhrases(), (QStringList{"James", "Kim"}));
    ASSERT_EQ(view->phraseRows().size(), 2);
    QTest::mouseClick(view->phraseRows()[1].removeButton, Qt::LeftButton);
    EXPECT_EQ(model->activeWakePhrases(), QStringList{"James"});
}

// A refused entry stays in the field with the reason under it until the draft changes; a pasted
// list is cut before the first comma that does not fit, and the hint says so; a long phrase is cut to keep its remove
// button inside the panel; 50 phrases scroll in their own area and leave the mode and the shortcut in view.
TEST_F(ContentViewTest, RefusalsAreExplainedUnderTheFieldAndManyOrLongPhrasesStayInTheirOwnArea) {
    QStringList phrases{R"("Professor Maximilian Alexander Montgomery-Worthington the Third of Lancaster")"};
    for (int index = 2; index <= AppModel::maximumWakePhraseCount; ++index) {
        phrases.append(QString("\"Name %1\"").arg(index));
    }
    makeView(setUp(R"(, "wakePhrases": [)" + phrases.join(", ").toUtf8() + "]"));
    QLineEdit& field = focusedField();
    const ContentView::PhraseRow& longRow = view->phraseRows()[0];
    EXPECT_TRUE(longRow.phrase->displayedText().endsWith(QChar(0x2026)));
    EXPECT_LE(longRow.removeButton->mapTo(view.get(), QPoint(longRow.removeButton->width(), 0)).x(),
              ContentView::fixedSize.width());

    QTest::keyClicks(&field, "name 2");
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(field.text(), "name 2");
    EXPECT_TRUE(parts().phraseHint->isVisible());
    EXPECT_EQ(parts().phraseHint->text(), "“Name 2” is already in the list.");
    EXPECT_GE(parts().phraseHint->mapTo(view.get(), QPoint(0, 0)).y(),
              field.mapTo(view.get(), QPoint(0, field.height())).y());
    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_FALSE(parts().phraseHint->isVisible());

    QStringList pasted;
    for (int index = 1; index <= 60; ++index) {
        pasted.append(QString("Person%1").arg(index));
    }
    QApplication::clipboard()->setText(pasted.join(", "));
    field.clear();
    field.paste();
    ASSERT_TRUE(eventually([&] { return model->wakePhraseDraft().startsWith("Person1,"); }));
    EXPECT_EQ(model->wakePhraseDraft(), pasted.mid(0, 51).join(", ")) << "cut before a comma";
    EXPECT_EQ(field.text(), model->wakePhraseDraft());
    EXPECT_TRUE(parts().phraseHint->isVisible());
    EXPECT_EQ(parts().phraseHint->text(), "Pasted 51 of 60 phrases: the field holds 500 characters. Not pasted: "
                                          "Person52, Person53, Person54 and 6 more.");

    const auto bottomOf = [this](const QWidget& widget) {
        return widget.mapTo(view.get(), QPoint(0, widget.height())).y();
    };
    EXPECT_GT(parts().phraseScrollArea->verticalScrollBar()->maximum(), 0);
    EXPECT_LE(bottomOf(*parts().modePicker), AppDelegate::popoverSize.height());
    EXPECT_LE(bottomOf(*parts().recordButton), AppDelegate::popoverSize.height());
    EXPECT_LE(bottomOf(*parts().listenAtStartSwitch), AppDelegate::popoverSize.height());
    EXPECT_LE(bottomOf(*parts().microphoneChoice), AppDelegate::popoverSize.height());
    EXPECT_EQ(parts().scrollArea->verticalScrollBar()->maximum(), 0);
}

// While a switch runs only the field and quit work, and the picker moves only with the model's mode.
TEST_F(ContentViewTest, ThePickerMovesOnlyWithTheModelsModeAndWaitsForTheCommand) {
    makeView(setUp(R"(, "selectedMode": "anc", "wakePhrases": ["James"])"));
    SegmentedPicker& picker = *parts().modePicker;
    airPods->hold();
    QTest::mouseClick(&picker.segment(1), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return airPods->commands() == std::vector<std::string>{"transparency"}; }));
    EXPECT_EQ(picker.selectedIndex(), 0);
    EXPECT_FALSE(picker.isEnabled());
    EXPECT_FALSE(parts().detectionSwitch->isEnabled());
    EXPECT_FALSE(view->phraseRows()[0].removeButton->isEnabled());
    EXPECT_FALSE(parts().recordButton->isEnabled());
    EXPECT_TRUE(parts().phraseField->isEnabled());
    QSignalSpy quit(view.get(), &ContentView::quitRequested);
    QTest::mouseClick(parts().quitButtons[1], Qt::LeftButton);
    EXPECT_EQ(quit.count(), 1);

    airPods->release();
    ASSERT_TRUE(eventually([&] { return !model->isCommandRunning(); }));
    EXPECT_EQ(picker.selectedIndex(), 1);
    EXPECT_TRUE(picker.isEnabled());
    EXPECT_TRUE(view->phraseRows()[0].removeButton->isEnabled());

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

// Recording can be cancelled keeping the old shortcut; clear removes it.
TEST_F(ContentViewTest, RecordingTheShortcutCanBeCancelledAndClearRemovesIt) {
    makeView(setUp(R"(, "hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K")"));
    EXPECT_EQ(parts().shortcutDisplay->text(), "Ctrl+Alt+K");
    QTest::mouseClick(parts().recordButton, Qt::LeftButton);
    EXPECT_TRUE(model->isRecordingShortcut());
    EXPECT_EQ(parts().shortcutDisplay->text(), panelTexts::shortcutRecording.text());
    EXPECT_EQ(parts().recordButton->text(), panelTexts::cancelRecording.text());
    QTest::mouseClick(parts().recordButton, Qt::LeftButton);
    EXPECT_FALSE(model->isRecordingShortcut());
    EXPECT_EQ(parts().shortcutDisplay->text(), "Ctrl+Alt+K");
    EXPECT_EQ(model->hotKeySetting()->displayName(), "Ctrl+Alt+K");
    QTest::mouseClick(parts().clearButton, Qt::LeftButton);
    EXPECT_FALSE(model->hotKeySetting());
    EXPECT_EQ(parts().shortcutDisplay->text(), panelTexts::shortcutNone.text());
    EXPECT_FALSE(parts().clearButton->isEnabled());
}

// The keys of the [Desktop Entry] group of a desktop entry file.
QMap<QString, QString> desktopEntryKeys(const QString& path) {
    QFile file(path);
    QMap<QString, QString> keys;
    if (!file.open(QIODevice::ReadOnly)) {
        return keys;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    EXPECT_EQ(lines.value(0), "[Desktop Entry]");
    for (const QString& line : lines.mid(1)) {
        if (const qsizetype equals = line.indexOf('='); equals > 0) {
            keys.insert(line.left(equals), line.mid(equals + 1));
        }
    }
    return keys;
}

// The switch writes the entry and removes it, shows what the file says when the panel opens, and
// shows why when the entry cannot be written (which files count as on is AutostartEntry's).
TEST_F(ContentViewTest, TheStartAtLoginSwitchWritesAndRemovesTheAutostartEntry) {
    executablePath = "/opt/Harkwell Test/bin/harkwell";
    const QString entry = autostartFolder() + "/io.github.harkwell.Harkwell.desktop";
    makeView(setUp());
    SwitchButton& toggle = *parts().startAtLoginSwitch;
    const auto panelOpens = [&] {
        model->panelDidOpen();
        return eventually([&] { return !model->isCommandRunning(); });
    };
    const auto writeByHand = [](const QString& path, const QByteArray& contents) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
    };
    EXPECT_FALSE(toggle.isChecked());

    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_TRUE(toggle.isChecked());
    const QMap<QString, QString> expected{
        {"Type", "Application"},
        {"Name", "Harkwell"},
        {"Comment", "Switches your AirPods to Transparency when someone calls your name"},
        {"Exec", R"("/opt/Harkwell Test/bin/harkwell")"},
        {"Icon", "io.github.harkwell.Harkwell"},
        {"Terminal", "false"},
        {"StartupNotify", "false"},
        {"X-GNOME-Autostart-enabled", "true"},
    };
    EXPECT_EQ(desktopEntryKeys(entry), expected);
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.isChecked());
    EXPECT_FALSE(QFile::exists(entry));

    ASSERT_TRUE(writeByHand(entry, "[Desktop Entry]\nType=Application\nExec=harkwell\n"));
    ASSERT_TRUE(panelOpens());
    EXPECT_TRUE(toggle.isChecked()) << "written by hand";
    EXPECT_TRUE(parts().errorBanners[1]->isHidden());

    ASSERT_TRUE(QDir(autostartFolder()).removeRecursively());
    ASSERT_TRUE(writeByHand(autostartFolder(), {})); // a file where the folder should be
    ASSERT_TRUE(panelOpens());
    EXPECT_FALSE(toggle.isChecked());
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.isChecked());
    EXPECT_FALSE(parts().errorBanners[1]->isHidden());
    EXPECT_EQ(parts().errorBanners[1]->text(),
              QString("Start at login could not be turned on: cannot create the folder %1").arg(autostartFolder()));
}

TEST_F(ContentViewTest, TheListenAtStartSwitchStoresTheChoice) {
    makeView(setUp(R"(, "listenAtStart": true)"));
    SwitchButton& toggle = *parts().listenAtStartSwitch;
    EXPECT_TRUE(toggle.isChecked());
    for (const bool listens : {false, true}) {
        QTest::mouseClick(&toggle, Qt::LeftButton);
        EXPECT_EQ(toggle.isChecked(), listens);
        EXPECT_EQ(model->isListenAtStart(), listens);
    }
    EXPECT_FALSE(model->isDetectionEnabled()) << "the choice is for the next start";
}

} // namespace
} // namespace harkwell
