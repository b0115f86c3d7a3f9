#include "app/ContentView.h"
#include "ContentViewHarness.h"
#include "app/AppDelegate.h"
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

TEST_F(ContentViewTest, ShowsEveryTextInTheInterfaceLanguage) {
    for (const AppLocale locale : {AppLocale::english, AppLocale::korean}) {
        SCOPED_TRACE(locale.rawValue());
        useLocale(std::string(locale.rawValue()));
        makeView(setUp());
        const ContentView::Parts& p = parts();
        // What the panel shows, where, and the entry of the text table it must be.
        std::vector<std::tuple<const char*, QString, const PanelText&>> shown{
            {"permission title", p.permissionTitle->text(), panelTexts::permissionTitle},
            {"permission explanation", p.permissionExplanation->text(), panelTexts::permissionExplanation},
            {"permission button", p.permissionButton->text(), panelTexts::permissionButton},
            {"quit, permission screen", p.quitButtons[0]->toolTip(), panelTexts::quit},
            {"quit, main controls", p.quitButtons[1]->toolTip(), panelTexts::quit},
            {"detection", p.detectionLabel->text(), panelTexts::detection},
            {"phrases title", p.phrasesTitle->text(), panelTexts::phrasesTitle},
            {"phrase field", p.phraseField->placeholderText(), panelTexts::phrasePlaceholder},
            {"no phrases", p.emptyPhrasesText->text(), panelTexts::noPhrases},
            {"add", p.addButton->toolTip(), panelTexts::addPhrase},
            {"mode title", p.modeTitle->text(), panelTexts::modeTitle},
            {"ANC", p.modePicker->segment(0).text(), panelTexts::modeAnc},
            {"transparency", p.modePicker->segment(1).text(), panelTexts::modeTransparency},
            {"off", p.modePicker->segment(2).text(), panelTexts::modeOff},
            {"shortcut title", p.shortcutTitle->text(), panelTexts::shortcutTitle},
            {"no shortcut", p.shortcutDisplay->text(), panelTexts::shortcutNone},
            {"record", p.recordButton->text(), panelTexts::recordShortcut},
            {"clear", p.clearButton->text(), panelTexts::clearShortcut},
            {"start at login", p.startAtLoginLabel->text(), panelTexts::startAtLogin},
            {"start at login switch", p.startAtLoginSwitch->accessibleName(), panelTexts::startAtLogin},
            {"listen at start", p.listenAtStartLabel->text(), panelTexts::listenAtStart},
            {"listen at start switch", p.listenAtStartSwitch->accessibleName(), panelTexts::listenAtStart},
        };
        const QString noneActive = p.phraseCount->text();
        model->setWakePhraseDraft("Ann");
        model->addWakePhraseFromDraft();
        ASSERT_EQ(view->phraseRows().size(), 1);
        shown.emplace_back("remove", view->phraseRows()[0].removeButton->toolTip(), panelTexts::removePhrase);
        for (const auto& [where, text, expected] : shown) {
            EXPECT_EQ(text, expected.text(locale)) << where;
        }
        EXPECT_EQ(noneActive, panelTexts::phraseCount.text(locale).arg(0));
        EXPECT_EQ(p.phraseCount->text(), panelTexts::phraseCount.text(locale).arg(1));
    }
}

// The count says how many phrases are listened for: with more than listening takes, how many of
// how many; phrases in a script it cannot hear are not counted.
TEST_F(ContentViewTest, ThePhraseCountSaysHowManyAreListenedFor) {
    QStringList many;
    for (int index = 1; index <= 503; ++index) {
        many.append(QString("\"Name %1\"").arg(index));
    }
    const QByteArray manyPhrases = ", \"wakePhrases\": [" + many.join(", ").toUtf8() + "]";
    const std::vector<std::tuple<AppLocale, QByteArray, QString>> cases{
        {AppLocale::english, manyPhrases, "Listening for the first 50 of 503 phrases"},
        {AppLocale::korean, manyPhrases, "호출 문구 503개 중 처음 50개 감지"},
        {AppLocale::english, R"(, "wakePhrases": ["Ann", "שרה", "Bob"])", "Active: 2"},
        {AppLocale::english, R"(, "wakePhrases": ["Ann", "Bob"])", "Active: 2"},
    };
    for (const auto& [locale, phrases, count] : cases) {
        SCOPED_TRACE(count.toStdString());
        useLocale(std::string(locale.rawValue()));
        makeView(setUp(phrases));
        EXPECT_EQ(parts().phraseCount->text(), count);
    }
}

// The sensitivity and the return after a call: their texts, the stored choices shown, a choice
// reaching the model, and the countdown while a return is pending.
TEST_F(ContentViewTest, TheSensitivityAndTheReturnAfterACall) {
    using namespace std::chrono_literals;
    struct Texts {
        QString sensitivity;
        QStringList levels;
        QString back;
        QStringList waits;
        QString pending;
    };
    const std::vector<std::pair<AppLocale, Texts>> cases{
        {AppLocale::english,
         {"Sensitivity",
          {"Low", "Medium", "High"},
          "Back to noise cancellation",
          {"Off", "After 10 s", "After 30 s", "After 60 s"},
          "Back to noise cancellation in 23 s"}},
        {AppLocale::korean,
         {"민감도",
          {"낮음", "보통", "높음"},
          "노이즈 캔슬링으로 돌아가기",
          {"끄기", "10초 후", "30초 후", "60초 후"},
          "23초 후 노이즈 캔슬링으로 돌아갑니다"}},
    };
    for (const auto& [locale, texts] : cases) {
        SCOPED_TRACE(locale.rawValue());
        useLocale(std::string(locale.rawValue()));
        airPods->willAnswer(ListeningMode::transparency);
        makeView(setUp(R"(, "wakePhrases": ["James"], "detectionSensitivity": "high", "returnAfterQuietSeconds": 60)"));
        const ContentView::Parts& p = parts();
        EXPECT_EQ(p.sensitivityTitle->text(), texts.sensitivity);
        QStringList levels;
        for (int index = 0; index < p.sensitivityPicker->count(); ++index) {
            levels.append(p.sensitivityPicker->segment(index).text());
        }
        EXPECT_EQ(levels, texts.levels);
        EXPECT_EQ(p.returnTitle->text(), texts.back);
        EXPECT_EQ(itemsOf(*p.returnChoice), texts.waits);
        EXPECT_EQ(p.sensitivityPicker->selectedIndex(), 2);
        EXPECT_EQ(p.returnChoice->currentText(), texts.waits[3]);

        QTest::mouseClick(&p.sensitivityPicker->segment(0), Qt::LeftButton);
        EXPECT_EQ(model->detectionSensitivity(), DetectionSensitivity::low);
        EXPECT_EQ(p.sensitivityPicker->selectedIndex(), 0);
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

// Each part of the panel follows its own signals: a tick of the return's countdown and a
// keystroke in the phrase field change their own text and rebuild nothing else, the microphone
// list least of all.
TEST_F(ContentViewTest, ACountdownTickOrAKeystrokeRebuildsNothingElse) {
    using namespace std::chrono_literals;
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

// Under the sensitivity picker while Low is chosen, and only then: what Low hears.
TEST_F(ContentViewTest, LowIsExplainedUnderThePicker) {
    const std::vector<std::pair<AppLocale, QString>> cases{
        {AppLocale::english, "Low: only when someone speaks to you"},
        {AppLocale::korean, "낮음: 누군가 나에게 말을 걸 때만"},
    };
    for (const auto& [locale, hint] : cases) {
        SCOPED_TRACE(locale.rawValue());
        useLocale(std::string(locale.rawValue()));
        makeView(setUp(R"(, "detectionSensitivity": "low")"));
        const ContentView::Parts& p = parts();
        EXPECT_EQ(p.sensitivityHint->text(), hint);
        EXPECT_FALSE(p.sensitivityHint->isHidden()) << "stored Low";
        // Each level chosen on the picker, and whether the hint shows after it.
        const std::pair<int, bool> choices[] = {{1, false}, {2, false}, {0, true}, {2, false}};
        for (const auto& [index, shown] : choices) {
            QTest::mouseClick(&p.sensitivityPicker->segment(index), Qt::LeftButton);
            EXPECT_EQ(p.sensitivityHint->isHidden(), !shown) << "level " << index;
        }
        model->setDetectionSensitivity(DetectionSensitivity::low);
        EXPECT_FALSE(p.sensitivityHint->isHidden()) << "Low chosen elsewhere";
    }
}

// The accurate recogniser's notice: one line in Call Detection with the model's text, shown only
// when there is one (which states have one is ListeningSession's), and following its changes.
TEST_F(ContentViewTest, TheRecognizerNoticeShowsOnlyWhenTheBasicRecogniserListensAlone) {
    QFile file(directory.filePath("ggml-model.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("ggml") == 4);
    file.close();
    whisperModel = std::make_shared<WhisperModel>(directory.filePath("absent.bin").toStdString());
    makeView(setUp());
    EXPECT_FALSE(parts().recognizerNotice->isHidden());
    EXPECT_EQ(parts().recognizerNotice->text(),
              "Accurate recognition model not installed: listening with the basic recogniser.");

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    whisperModel = std::make_shared<WhisperModel>(
        file.fileName().toStdString(), [released](const std::string&) -> std::shared_ptr<WhisperTranscriber> {
            released.wait();
            throw std::runtime_error("not a ggml file");
        });
    makeView(setUp());
    EXPECT_TRUE(parts().recognizerNotice->isHidden()) << "while the model loads";
    release.set_value();
    ASSERT_TRUE(eventually([&] { return !parts().recognizerNotice->isHidden(); }));
    EXPECT_EQ(parts().recognizerNotice->text(),
              "Accurate recognition model could not be loaded: listening with the basic recogniser.");
}

// The microphone row in both languages: automatic first, no monitors, headsets last with their
// mark and a question before one is chosen, the choice stored, a missing choice replaced by the
// automatic one with a notice, and the list following the devices while the panel is shown.
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
        useLocale(std::string(locale.rawValue()));
        audioInputs->setDevices({headset, monitor, builtIn, usb});
        makeView(setUp(R"(, "wakePhrases": ["Ann"])"));
        view->show(); // reads the inputs
        QComboBox& choice = *parts().microphoneChoice;
        ASSERT_TRUE(eventually([&] { return choice.count() == 4; }));
        EXPECT_EQ(parts().microphoneTitle->text(), texts.title);
        EXPECT_EQ(itemsOf(choice),
                  (QStringList{texts.automatic, "Built-in Audio", "Yeti Stereo Microphone", texts.headset}));
        EXPECT_EQ(choice.currentIndex(), 0);

        // A plain input is chosen at once and stored.
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

        // The chosen input goes away: the list follows, listening takes the automatic choice and
        // the panel says so.
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
        EXPECT_FALSE(parts().microphoneNotice->isHidden());
        EXPECT_EQ(parts().microphoneNotice->text(), texts.notice);
        EXPECT_EQ(model->microphoneSource(), "alsa_input.usb-Blue_Yeti") << "the choice is kept";

        // Choosing automatic removes the stored choice.
        choice.activated(0);
        EXPECT_TRUE(model->microphoneSource().isEmpty());
        EXPECT_TRUE(parts().microphoneNotice->isHidden());
        EXPECT_FALSE(storedSettings().contains("microphoneSource"));
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

} // namespace
} // namespace harkwell
