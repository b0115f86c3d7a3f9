// The control panel over a model of fakes: what its sections show and the model operations its
// controls call.
#include "app/ContentView.h"
#include "PanelHarness.h"
#include "app/AppDelegate.h"
#include "app/ElidedLabel.h"
#include "app/PanelTexts.h"
#include "app/SegmentedPicker.h"
#include "app/SwitchButton.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <future>
#include <stdexcept>
#include <thread>

namespace harkwell {
namespace {

using namespace harkwell::testing;
using namespace std::chrono_literals;

// Settings whose permission setup is complete, with more keys.
QByteArray setUp(const QByteArray& more = {}) { return R"({"permissionSetupComplete": true)" + more + "}"; }

QStringList itemsOf(const QComboBox& box) {
    QStringList items;
    for (int index = 0; index < box.count(); ++index) {
        items.append(box.itemText(index));
    }
    return items;
}

// A list of phrases, "Name 1" to "Name <count>", as a settings key.
QByteArray manyPhrases(int count, const QString& first = "Name 1") {
    QStringList phrases{'"' + first + '"'};
    for (int index = 2; index <= count; ++index) {
        phrases.append(QString("\"Name %1\"").arg(index));
    }
    return ", \"wakePhrases\": [" + phrases.join(", ").toUtf8() + "]";
}

class ContentViewTest : public PanelTest {
protected:
    ~ContentViewTest() override { airPods->release(); }

    void makeView(const QByteArray& settings, AppLocale locale = AppLocale::english) {
        useLocale(std::string(locale.rawValue()));
        view.reset();
        model.reset();
        model = std::make_unique<AppModel>(dependenciesWith(settings));
        view = std::make_unique<ContentView>(*model);
    }
    const ContentView::Parts& parts() const { return view->parts(); }
    // A model file that loads until released, then fails.
    void useModelFailingOnce(const std::shared_future<void>& released) {
        QFile file(directory.filePath("ggml-model.bin"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("ggml") == 4);
        file.close();
        whisperModel = std::make_shared<WhisperModel>(
            file.fileName().toStdString(), [released](const std::string&) -> std::shared_ptr<WhisperTranscriber> {
                released.wait();
                throw std::runtime_error("not a ggml file");
            });
    }
    // Shows the panel active with the phrase field focused.
    QLineEdit& focusedField() {
        view->show();
        QApplication::setActiveWindow(view.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(view.get()));
        parts().phraseField->setFocus();
        return *parts().phraseField;
    }

    std::unique_ptr<AppModel> model;
    std::unique_ptr<ContentView> view;
};

// The sections keep their places whatever the list holds: the field right under the title, and
// the mode and the switches below the list where they were.
TEST_F(ContentViewTest, TheSectionsKeepTheirPlaces) {
    const auto top = [&](const QWidget* widget) { return widget->mapTo(view.get(), QPoint(0, 0)).y(); };
    std::optional<std::pair<int, int>> first;
    for (const int count : {0, 1, 2, 3, 9}) {
        makeView(setUp(count > 0 ? manyPhrases(count) : R"(, "wakePhrases": [])"));
        view->show();
        QApplication::processEvents();
        const std::pair places{top(parts().phraseField) - top(parts().phrasesTitle), top(parts().modeTitle)};
        EXPECT_EQ(places, first.value_or(places)) << count << " phrases";
        first = places;
    }
}

// The table's texts that the panel shows reach it in the interface language: in Korean, where a
// text fixed in English would not; the count follows the phrases.
TEST_F(ContentViewTest, ShowsEachTextInTheInterfaceLanguage) {
    const AppLocale korean = AppLocale::korean;
    makeView(setUp(), korean);
    EXPECT_EQ(parts().phraseCount->text(), panelTexts::phraseCount.text(korean).arg(0));
    model->setWakePhraseDraft("Ann");
    model->addWakePhraseFromDraft();
    EXPECT_EQ(parts().phraseCount->text(), panelTexts::phraseCount.text(korean).arg(1));
    QStringList shown;
    for (const QWidget* widget : view->findChildren<QWidget*>()) {
        shown << widget->property("text").toString() << widget->property("placeholderText").toString()
              << widget->toolTip() << widget->accessibleName();
    }
    using namespace panelTexts;
    for (const PanelText* text : {&permissionTitle,    &permissionExplanation,
                                  &permissionButton,   &quit,
                                  &detection,          &phrasesTitle,
                                  &phrasePlaceholder,  &addPhrase,
                                  &removePhrase,       &noPhrases,
                                  &modeTitle,          &modeAnc,
                                  &modeTransparency,   &modeOff,
                                  &shortcutTitle,      &shortcutNone,
                                  &recordShortcut,     &clearShortcut,
                                  &startAtLogin,       &listenAtStart,
                                  &bindInGnomeSettings}) {
        EXPECT_TRUE(shown.contains(text->text(korean))) << text->text(AppLocale::english).toStdString();
    }
}

// With more phrases than listening takes, how many of how many; phrases in a script no recogniser
// knows, or Hangul ones without a model that hears Korean, are not counted, and their rows say so.
TEST_F(ContentViewTest, ThePhraseCountSaysHowManyAreListenedFor) {
    // The interface language, the phrases, whether the model is missing, the count, the rows
    // marked as not heard.
    const std::vector<std::tuple<AppLocale, QByteArray, bool, QString, QStringList>> cases{
        {AppLocale::english, manyPhrases(503), false, "Listening for the first 50 of 503 phrases", {}},
        {AppLocale::korean, manyPhrases(503), false, "호출 문구 503개 중 처음 50개 감지", {}},
        {AppLocale::english, R"(, "wakePhrases": ["Ann", "שרה", "Bob"])", false, "Active: 2", {"שרה"}},
        {AppLocale::english, R"(, "wakePhrases": ["Ann", "Bob"])", false, "Active: 2", {}},
        {AppLocale::english, R"(, "wakePhrases": ["Ann", "민수", "Bob"])", false, "Active: 3", {}},
        {AppLocale::english, R"(, "wakePhrases": ["Ann", "민수", "Bob"])", true, "Active: 2", {"민수"}},
        {AppLocale::korean, R"(, "wakePhrases": ["민수", "지훈"])", true, "적용 중: 0개", {"민수", "지훈"}},
    };
    for (const auto& [locale, phrases, isModelMissing, count, marked] : cases) {
        SCOPED_TRACE(count.toStdString());
        whisperModel = isModelMissing ? std::make_shared<WhisperModel>(std::string()) : nullptr;
        makeView(setUp(phrases), locale);
        EXPECT_EQ(parts().phraseCount->text(), count);
        QStringList shownMarked;
        for (const auto& row : view->phraseRows()) {
            if (!row.notHeardMark->isHidden()) {
                shownMarked << row.phrase->text();
                EXPECT_EQ(row.notHeardMark->toolTip(), model->whyWakePhraseNotHeard(row.phrase->text()));
            }
        }
        EXPECT_EQ(shownMarked, marked);
    }
}

// The sensitivity, with what Low hears under the picker while Low is chosen, and the return after
// a call: their texts, the stored choices shown, a choice reaching the model, and the countdown
// while a return is pending.
TEST_F(ContentViewTest, TheSensitivityAndTheReturnAfterACall) {
    struct Texts {
        QString sensitivity;
        QStringList levels;
        QString lowHint, back;
        QStringList waits;
        QString pending;
    };
    const std::vector<std::tuple<AppLocale, int, Texts>> cases{
        {AppLocale::english,
         2,
         {"Sensitivity",
          {"Low", "Medium", "High"},
          "Low: only when someone speaks to you",
          "Back to noise cancellation",
          {"Off", "After 10 s", "After 30 s", "After 60 s"},
          "Back to noise cancellation in 23 s"}},
        {AppLocale::korean,
         0,
         {"민감도",
          {"낮음", "보통", "높음"},
          "낮음: 누군가 나에게 말을 걸 때만",
          "노이즈 캔슬링으로 돌아가기",
          {"끄기", "10초 후", "30초 후", "60초 후"},
          "23초 후 노이즈 캔슬링으로 돌아갑니다"}},
    };
    const std::vector<QByteArray> levelNames{"low", "medium", "high"};
    for (const auto& [locale, stored, texts] : cases) {
        SCOPED_TRACE(locale.rawValue());
        airPods->willAnswer(ListeningMode::transparency);
        makeView(setUp(R"(, "wakePhrases": ["James"], "returnAfterQuietSeconds": 60, "detectionSensitivity": ")" +
                       levelNames[stored] + '"'),
                 locale);
        const ContentView::Parts& p = parts();
        EXPECT_EQ(p.sensitivityTitle->text(), texts.sensitivity);
        QStringList levels;
        for (int index = 0; index < p.sensitivityPicker->count(); ++index) {
            levels.append(p.sensitivityPicker->segment(index).text());
        }
        EXPECT_EQ(levels, texts.levels);
        EXPECT_EQ(p.sensitivityHint->text(), texts.lowHint);
        EXPECT_EQ(p.returnTitle->text(), texts.back);
        EXPECT_EQ(itemsOf(*p.returnChoice), texts.waits);
        EXPECT_EQ(p.sensitivityPicker->selectedIndex(), stored);
        EXPECT_EQ(p.sensitivityHint->isHidden(), stored != 0) << "stored";
        EXPECT_EQ(p.returnChoice->currentText(), texts.waits[3]);

        for (const auto& [index, level] : {std::pair{1, DetectionSensitivity::medium},
                                           {0, DetectionSensitivity::low},
                                           {2, DetectionSensitivity::high}}) {
            QTest::mouseClick(&p.sensitivityPicker->segment(index), Qt::LeftButton);
            EXPECT_EQ(model->detectionSensitivity(), level);
            EXPECT_EQ(p.sensitivityPicker->selectedIndex(), index);
            EXPECT_EQ(p.sensitivityHint->isHidden(), index != 0) << "level " << index;
        }
        model->setDetectionSensitivity(DetectionSensitivity::low);
        EXPECT_EQ(p.sensitivityPicker->selectedIndex(), 0);
        EXPECT_FALSE(p.sensitivityHint->isHidden()) << "Low chosen elsewhere";
        emit p.returnChoice->activated(2);
        EXPECT_EQ(model->returnAfterQuietSeconds(), 30);
        EXPECT_EQ(p.returnChoice->currentText(), texts.waits[2]);

        // A call, then 7 quiet seconds of 30: the title counts down until the user's own choice.
        model->setDetectionEnabled(true);
        std::thread(detectors->onDetected, "James").join();
        ASSERT_TRUE(eventually([&] { return model->secondsUntilReturn().has_value(); }));
        clock->advanceBy(7s);
        EXPECT_EQ(p.returnTitle->text(), texts.pending);
        model->setAirPodsMode(ListeningMode::transparency);
        EXPECT_EQ(p.returnTitle->text(), texts.back);
        ASSERT_TRUE(eventually([&] { return !model->isCommandRunning(); }));
    }
}

// What a call does to the media, a choice reaching the model; and the calls heard, one line each,
// the latest first, shown once there are any.
TEST_F(ContentViewTest, WhenSomeoneCallsAndTheCallsHeard) {
    const std::vector<std::tuple<AppLocale, QString, QStringList, QString>> cases{
        {AppLocale::english, "When someone calls", {"Pause media", "Lower media", "Leave media"}, "Recent calls"},
        {AppLocale::korean,
         "누군가 부르면",
         {"미디어 일시정지", "미디어 소리 줄이기", "미디어 그대로 두기"},
         "최근 호출"},
    };
    for (const auto& [locale, title, choices, recent] : cases) {
        SCOPED_TRACE(locale.rawValue());
        makeView(setUp(R"(, "wakePhrases": ["James"], "mediaOnCall": "lower")"), locale);
        const ContentView::Parts& p = parts();
        EXPECT_EQ(p.mediaTitle->text(), title);
        EXPECT_EQ(itemsOf(*p.mediaChoice), choices);
        EXPECT_EQ(p.mediaChoice->currentIndex(), 1);
        emit p.mediaChoice->activated(2);
        EXPECT_EQ(model->mediaOnCall(), MediaOnCall::leave);
        EXPECT_TRUE(p.recentCalls->isHidden());

        model->setDetectionEnabled(true);
        for (const char* heard : {"hey James can you come", "James?"}) {
            const auto before = model->recentCalls().size();
            std::thread(detectors->onHeard, "James", heard).join();
            ASSERT_TRUE(eventually([&] { return model->recentCalls().size() > before && !model->isCommandRunning(); }));
        }
        EXPECT_FALSE(p.recentCalls->isHidden());
        EXPECT_EQ(p.recentCallsTitle->text(), recent);
        EXPECT_TRUE(p.recentCallLines[0]->text().endsWith(" · James: “James?”"))
            << p.recentCallLines[0]->text().toStdString();
        EXPECT_TRUE(p.recentCallLines[1]->text().endsWith(" · James: “hey James can you come”"));
        EXPECT_TRUE(p.recentCallLines[2]->isHidden());
    }
}

// Each section follows its own signals: a tick of the return's countdown and a keystroke in the
// phrase field change their own text and rebuild nothing else, the microphone list least of all.
TEST_F(ContentViewTest, ACountdownTickOrAKeystrokeRebuildsNothingElse) {
    audioInputs->setDevices({{"alsa_input.pci", "Built-in Audio", true}, {"alsa_input.usb", "Yeti"}});
    airPods->willAnswer(ListeningMode::transparency);
    makeView(setUp(R"(, "wakePhrases": ["James", "Ann"], "returnAfterQuietSeconds": 30)"));
    QLineEdit& field = focusedField(); // shown, so the inputs are read
    const QComboBox& choice = *parts().microphoneChoice;
    ASSERT_TRUE(eventually([&] { return choice.count() == 3; }));
    model->setDetectionEnabled(true);
    std::thread(detectors->onDetected, "James").join();
    ASSERT_TRUE(eventually([&] { return model->secondsUntilReturn().has_value() && !model->isCommandRunning(); }));

    // What each must change, and how.
    const std::vector<std::tuple<const char*, std::function<QString()>, std::function<void()>>> cases{
        {"a countdown tick", [&] { return parts().returnTitle->text(); }, [&] { clock->advanceBy(1s); }},
        {"a keystroke", [&] { return field.text(); }, [&] { QTest::keyClick(&field, Qt::Key_K); }},
    };
    for (const auto& [name, shown, act] : cases) {
        SCOPED_TRACE(name);
        const QSignalSpy added(choice.model(), &QAbstractItemModel::rowsInserted);
        const QSignalSpy removed(choice.model(), &QAbstractItemModel::rowsRemoved);
        const QList<ContentView::PhraseRow> rows = view->phraseRows();
        const qint64 icon = parts().detectionIcon->pixmap().cacheKey();
        const QString before = shown();
        act();
        EXPECT_NE(shown(), before);
        EXPECT_EQ(added.count() + removed.count(), 0) << "the microphone list was rebuilt";
        ASSERT_EQ(view->phraseRows().size(), rows.size());
        for (qsizetype index = 0; index < rows.size(); ++index) {
            EXPECT_EQ(view->phraseRows()[index].phrase, rows[index].phrase) << "the phrase rows were rebuilt";
        }
        EXPECT_EQ(parts().detectionIcon->pixmap().cacheKey(), icon) << "the detection toggle was redrawn";
    }
}

// The accurate recogniser's notice: the model's text, shown only when there is one, following its
// changes.
TEST_F(ContentViewTest, TheRecognizerNoticeShowsOnlyWhenTheBasicRecogniserListensAlone) {
    whisperModel = std::make_shared<WhisperModel>(directory.filePath("absent.bin").toStdString());
    makeView(setUp());
    EXPECT_FALSE(parts().recognizerNotice->isHidden());
    EXPECT_EQ(parts().recognizerNotice->text(),
              "Accurate recognition model not installed: listening with the basic recogniser.");
    model->setWakePhraseDraft("민수");
    model->addWakePhraseFromDraft();
    EXPECT_EQ(parts().recognizerNotice->text(), "Accurate recognition model not installed: Korean cannot be heard.");

    std::promise<void> release;
    useModelFailingOnce(release.get_future().share());
    makeView(setUp());
    EXPECT_TRUE(parts().recognizerNotice->isHidden()) << "while the model loads";
    release.set_value();
    ASSERT_TRUE(eventually([&] { return !parts().recognizerNotice->isHidden(); }));
    EXPECT_EQ(parts().recognizerNotice->text(),
              "Accurate recognition model could not be loaded: listening with the basic recogniser.");
}

// A phrase added that cannot be heard says why in one line under the field, and is not counted; the
// hint goes with the next edit of the field. While the model loads Hangul counts; once it has
// failed, it no longer does.
TEST_F(ContentViewTest, APhraseThatCannotBeHeardIsNamedUnderTheField) {
    std::promise<void> release;
    useModelFailingOnce(release.get_future().share());
    makeView(setUp(R"(, "wakePhrases": ["Ann"])"));
    QLineEdit& field = focusedField();
    const auto add = [&](const QString& phrase) {
        // Typed at once, as an input method commits it.
        QTest::sendKeyEvent(QTest::Click, &field, Qt::Key_unknown, phrase, Qt::NoModifier);
        QTest::keyClick(&field, Qt::Key_Return);
    };
    add("민수");
    EXPECT_TRUE(parts().phraseHint->isHidden()) << "Korean may be heard once the model is read";
    EXPECT_EQ(parts().phraseCount->text(), "Active: 2");
    release.set_value();
    ASSERT_TRUE(eventually([&] { return parts().phraseCount->text() == "Active: 1"; }));

    // Which phrases give which hint is the phrase book's; the view shows it and the count.
    add("지훈");
    EXPECT_TRUE(field.text().isEmpty()) << "it is added";
    EXPECT_FALSE(parts().phraseHint->isHidden());
    EXPECT_EQ(parts().phraseHint->text(),
              "“\u2068지훈\u2069” cannot be heard: Korean needs the accurate recognition model.");
    EXPECT_EQ(parts().phraseCount->text(), "Active: 1");
    QTest::keyClick(&field, Qt::Key_K);
    EXPECT_TRUE(parts().phraseHint->isHidden()) << "an edit of the field";
}

// Automatic first, no monitors, headsets last with their mark and a question before one is
// chosen, the choice stored, a missing choice replaced by the automatic one with a notice, and
// the list following the devices while the panel is shown.
TEST_F(ContentViewTest, TheMicrophoneRow) {
    struct Texts {
        QString title, automatic, headset, notice, question, use, cancel;
    };
    const std::vector<std::pair<AppLocale, Texts>> cases{
        {AppLocale::english,
         {"Microphone", "Automatic (built-in)", "AirPods Pro (switches the AirPods to headset mode)",
          "Microphone not connected: listening on Built-in Audio", "Use AirPods Pro?", "Use", "Cancel"}},
        {AppLocale::korean,
         {"마이크", "자동 (내장 마이크)", "AirPods Pro (AirPods가 헤드셋 모드로 바뀜)",
          "선택한 마이크가 없어 Built-in Audio(으)로 듣는 중", "AirPods Pro을(를) 사용할까요?", "사용", "취소"}},
    };
    const AudioInputDevice builtIn{"alsa_input.pci", "Built-in Audio", true};
    const AudioInputDevice usb{"alsa_input.usb-Blue_Yeti", "Yeti Stereo Microphone"};
    const AudioInputDevice headset{"bluez_input.AA_BB", "AirPods Pro", false, true};
    const AudioInputDevice monitor{"alsa_output.pci.monitor", "Monitor of Built-in Audio", false, false, true};
    for (const auto& [locale, texts] : cases) {
        SCOPED_TRACE(locale.rawValue());
        audioInputs->setDevices({headset, monitor, builtIn, usb});
        makeView(setUp(R"(, "wakePhrases": ["Ann"])"), locale);
        view->show(); // reads the inputs
        QComboBox& choice = *parts().microphoneChoice;
        ASSERT_TRUE(eventually([&] { return choice.count() == 4; }));
        EXPECT_EQ(parts().microphoneTitle->text(), texts.title);
        EXPECT_EQ(itemsOf(choice),
                  (QStringList{texts.automatic, "Built-in Audio", "Yeti Stereo Microphone", texts.headset}));
        EXPECT_EQ(choice.currentIndex(), 0);
        choice.activated(2);
        EXPECT_EQ(model->microphoneSource(), "alsa_input.usb-Blue_Yeti");

        // A headset asks first; cancelling keeps the earlier choice, confirming takes it.
        choice.setCurrentIndex(3);
        choice.activated(3);
        ASSERT_FALSE(parts().bluetoothQuestion->isHidden());
        EXPECT_TRUE(parts().bluetoothQuestionText->text().startsWith(texts.question));
        EXPECT_EQ(parts().bluetoothConfirm->text(), texts.use);
        EXPECT_EQ(parts().bluetoothCancel->text(), texts.cancel);
        EXPECT_EQ(model->microphoneSource(), "alsa_input.usb-Blue_Yeti");
        QTest::mouseClick(parts().bluetoothCancel, Qt::LeftButton);
        EXPECT_TRUE(parts().bluetoothQuestion->isHidden());
        EXPECT_EQ(model->microphoneSource(), "alsa_input.usb-Blue_Yeti");
        EXPECT_EQ(choice.currentIndex(), 2);
        choice.setCurrentIndex(3);
        choice.activated(3);
        QTest::mouseClick(parts().bluetoothConfirm, Qt::LeftButton);
        EXPECT_EQ(model->microphoneSource(), "bluez_input.AA_BB");
        EXPECT_EQ(choice.currentIndex(), 3);
        choice.activated(2);

        // The chosen input goes away: listening takes the automatic choice and the panel says so.
        audioInputs->setDevices({builtIn});
        model->refreshMicrophoneInputs();
        EXPECT_TRUE(eventually([&] { return choice.count() == 2; }));
        EXPECT_EQ(itemsOf(choice), (QStringList{texts.automatic, "Built-in Audio"}));
        EXPECT_EQ(choice.currentIndex(), 0);
        EXPECT_TRUE(parts().microphoneNotice->isHidden());
        QTest::mouseClick(parts().detectionSwitch, Qt::LeftButton);
        ASSERT_TRUE(model->isDetectionEnabled());
        ASSERT_TRUE(eventually([&] { return !parts().microphoneNotice->isHidden(); })) << "once the inputs are read";
        EXPECT_EQ(detectors->madeOn.back(), "");
        EXPECT_EQ(parts().microphoneNotice->text(), texts.notice);
        EXPECT_EQ(model->microphoneSource(), "alsa_input.usb-Blue_Yeti") << "the choice is kept";

        // Choosing automatic removes the stored choice.
        choice.activated(0);
        EXPECT_TRUE(model->microphoneSource().isEmpty());
        EXPECT_TRUE(parts().microphoneNotice->isHidden());
        EXPECT_FALSE(settingsIn(directory.filePath("Harkwell.json")).contains("microphoneSource"));
        model->setDetectionEnabled(false);
    }
}

// The meter reads the model's level only while the panel is shown and listening is on.
TEST_F(ContentViewTest, TheLevelMeterMovesOnlyWhileShownAndListening) {
    makeView(setUp(R"(, "wakePhrases": ["Ann"])"));
    QProgressBar& meter = *parts().levelMeter;
    detectors->inputLevel = 0.5; // -6 dBFS
    model->setDetectionEnabled(true);
    EXPECT_EQ(meter.value(), 0) << "the panel is closed";
    view->show();
    EXPECT_TRUE(meter.isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return meter.value() > 0; }));
    EXPECT_EQ(meter.value(), 90);
    detectors->inputLevel = 0;
    ASSERT_TRUE(QTest::qWaitFor([&] { return meter.value() == 0; }));
    detectors->inputLevel = 0.5;
    view->hide();
    EXPECT_EQ(meter.value(), 0);
    view->show();
    model->setDetectionEnabled(false);
    EXPECT_FALSE(meter.isVisible());
    EXPECT_EQ(meter.value(), 0);
}

// Return adds the draft keeping the focus in the field, the add button takes it; each row removes
// its own phrase.
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
// list is cut before the first comma that does not fit, and the hint says so; a long phrase is cut
// to keep its remove button inside the panel; 50 phrases scroll in their own area and leave the
// other sections in view.
TEST_F(ContentViewTest, RefusalsAreExplainedUnderTheFieldAndManyOrLongPhrasesStayInTheirOwnArea) {
    makeView(setUp(manyPhrases(AppModel::maximumWakePhraseCount,
                               "Professor Maximilian Alexander Montgomery-Worthington the Third of Lancaster")));
    QLineEdit& field = focusedField();
    const ContentView::PhraseRow& longRow = view->phraseRows()[0];
    EXPECT_TRUE(longRow.phrase->displayedText().endsWith(QChar(0x2026)));
    EXPECT_LE(longRow.removeButton->mapTo(view.get(), QPoint(longRow.removeButton->width(), 0)).x(),
              ContentView::fixedSize.width());

    QTest::keyClicks(&field, "name 2");
    QTest::keyClick(&field, Qt::Key_Return);
    EXPECT_EQ(field.text(), "name 2");
    EXPECT_TRUE(parts().phraseHint->isVisible());
    EXPECT_EQ(parts().phraseHint->text(), "“\u2068Name 2\u2069” is already in the list.");
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

    EXPECT_GT(parts().phraseScrollArea->verticalScrollBar()->maximum(), 0);
    for (const QWidget* widget : std::initializer_list<const QWidget*>{
             parts().modePicker, parts().recordButton, parts().listenAtStartSwitch, parts().microphoneChoice}) {
        EXPECT_LE(widget->mapTo(view.get(), QPoint(0, widget->height())).y(), AppDelegate::popoverSize.height())
            << widget->objectName().toStdString();
    }
    EXPECT_EQ(parts().scrollArea->verticalScrollBar()->maximum(), 0);
}

// While a switch runs only the field and quit work, and the picker moves only with the model's
// mode; a failed switch leaves the old segment selected and says why.
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

    airPods->willAnswer(AppError::airPodsNotConnected());
    QTest::mouseClick(&picker.segment(2), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !model->isCommandRunning(); }));
    EXPECT_EQ(picker.selectedIndex(), 1);
    EXPECT_FALSE(parts().errorBanners[1]->isHidden());
    EXPECT_EQ(parts().errorBanners[1]->text(), model->errorMessage());
}

// Listening at start is stored for the next start and does not listen now; listening refused
// without phrases puts its switch back off with the reason in the banner.
TEST_F(ContentViewTest, TheSwitchesShowWhatTheModelDecided) {
    makeView(setUp(R"(, "listenAtStart": true)"));
    SwitchButton& listenAtStart = *parts().listenAtStartSwitch;
    EXPECT_TRUE(listenAtStart.isChecked());
    for (const bool listens : {false, true}) {
        QTest::mouseClick(&listenAtStart, Qt::LeftButton);
        EXPECT_EQ(listenAtStart.isChecked(), listens);
        EXPECT_EQ(model->isListenAtStart(), listens);
    }
    EXPECT_FALSE(model->isDetectionEnabled());

    QTest::mouseClick(parts().detectionSwitch, Qt::LeftButton);
    EXPECT_FALSE(parts().detectionSwitch->isChecked());
    EXPECT_FALSE(parts().errorBanners[1]->isHidden());
    model->setWakePhraseDraft("James");
    model->addWakePhraseFromDraft();
    QTest::mouseClick(parts().detectionSwitch, Qt::LeftButton);
    EXPECT_TRUE(model->isDetectionEnabled() && parts().detectionSwitch->isChecked());
}

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
    EXPECT_TRUE(parts().shortcutNote->isHidden() && parts().shortcutConfigLine->isHidden());
    QTest::mouseClick(parts().clearButton, Qt::LeftButton);
    EXPECT_FALSE(model->hotKeySetting());
    EXPECT_EQ(parts().shortcutDisplay->text(), panelTexts::shortcutNone.text());
    EXPECT_FALSE(parts().clearButton->isEnabled());

    // On sway, which registers no shortcuts: the note and the line to paste, no GNOME button.
    hotKeys->nextStatus = HotKeyError::portalUnavailable;
    hotKeyDesktop = DesktopKind::sway;
    makeView(setUp(R"(, "hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K")"));
    EXPECT_EQ(parts().shortcutNote->text(), model->shortcutDesktopNote());
    EXPECT_FALSE(parts().shortcutNote->isHidden());
    EXPECT_EQ(parts().shortcutConfigLine->text(), "bindsym Ctrl+Mod1+k exec harkwell --toggle-mode");
    EXPECT_FALSE(parts().shortcutConfigLine->isHidden());
    EXPECT_TRUE(parts().bindInDesktopButton->isHidden());
}

// The switch writes the entry and removes it, shows what the file says when the panel opens, and
// shows why when the entry cannot be written.
TEST_F(ContentViewTest, TheStartAtLoginSwitchWritesAndRemovesTheAutostartEntry) {
    executablePath = "/opt/Harkwell Test/bin/harkwell";
    QFile entry(autostartFolder() + "/io.github.harkwell.Harkwell.desktop");
    makeView(setUp());
    SwitchButton& toggle = *parts().startAtLoginSwitch;
    const auto panelOpens = [&] {
        model->panelDidOpen();
        return eventually([&] { return !model->isCommandRunning(); });
    };
    EXPECT_FALSE(toggle.isChecked());

    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_TRUE(toggle.isChecked());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_EQ(entry.readAll().toStdString(),
              "[Desktop Entry]\nType=Application\nName=Harkwell\n"
              "Comment=Switches your AirPods to Transparency when someone calls your name\n"
              "Exec=\"/opt/Harkwell Test/bin/harkwell\"\nIcon=io.github.harkwell.Harkwell\nTerminal=false\n"
              "StartupNotify=false\nX-GNOME-Autostart-enabled=true\n");
    entry.close();
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.isChecked());
    EXPECT_FALSE(entry.exists());

    ASSERT_TRUE(entry.open(QIODevice::WriteOnly) && entry.write("[Desktop Entry]\nExec=harkwell\n") > 0);
    entry.close();
    ASSERT_TRUE(panelOpens());
    EXPECT_TRUE(toggle.isChecked()) << "written by hand";
    EXPECT_TRUE(parts().errorBanners[1]->isHidden());

    ASSERT_TRUE(QDir(autostartFolder()).removeRecursively());
    QFile blocker(autostartFolder()); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ASSERT_TRUE(panelOpens());
    EXPECT_FALSE(toggle.isChecked());
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.isChecked());
    EXPECT_FALSE(parts().errorBanners[1]->isHidden());
    EXPECT_EQ(parts().errorBanners[1]->text(),
              QString("Start at login could not be turned on: cannot create the folder %1").arg(autostartFolder()));
}

} // namespace
} // namespace harkwell
