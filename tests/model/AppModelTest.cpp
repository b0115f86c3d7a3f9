#include "model/AppModel.h"
#include "AppModelHarness.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <thread>

namespace harkwell {
namespace {

using namespace harkwell::testing;
using namespace std::chrono_literals;

// --- Stored settings ---------------------------------------------------------------------

TEST_F(AppModelTest, LoadsPhrasesMigratingTheLegacySinglePhrase) {
    // Stored settings, the phrases loaded, the settings afterwards (empty: unchanged).
    const std::vector<std::tuple<QByteArray, QStringList, QByteArray>> cases{
        {R"({"wakePhrase": "  James "})", {"James"}, R"({"wakePhrases": ["James"], "wakePhrase": "James"})"},
        {R"({"wakePhrases": [], "wakePhrase": "James"})", {}, {}},
        {R"({"wakePhrases": "Al", "wakePhrase": "Kim"})", {"Kim"}, R"({"wakePhrases": ["Kim"], "wakePhrase": "Kim"})"},
        {R"({"wakePhrase": "   "})", {}, R"({"wakePhrases": []})"},
    };
    for (const auto& [stored, phrases, storedAfter] : cases) {
        SCOPED_TRACE(stored.toStdString());
        EXPECT_EQ(makeModel(stored).activeWakePhrases(), phrases);
        EXPECT_EQ(storedSettings(), json(storedAfter.isEmpty() ? stored : storedAfter));
    }
}

// Exact raw mode values only; the setup flag only while permissions hold; nothing written at load.
TEST_F(AppModelTest, ReadsTheModeAndThePermissionFlagWithoutWritingThem) {
    using Mode = ListeningMode;
    const std::vector<std::tuple<QByteArray, Status, Mode, bool>> cases{
        {R"({"selectedMode": "transparency", "permissionSetupComplete": true})", Status::authorized, Mode::transparency,
         true},
        {R"({"selectedMode": "Transparency", "permissionSetupComplete": true})", Status::denied, Mode::anc, false},
        {R"({"selectedMode": 2, "permissionSetupComplete": "true"})", Status::authorized, Mode::anc, false},
    };
    for (const auto& [stored, microphone, mode, setupComplete] : cases) {
        SCOPED_TRACE(stored.toStdString());
        permissions->microphone = microphone;
        const auto& created = makeModel(stored);
        EXPECT_EQ(created.selectedMode(), mode);
        EXPECT_EQ(created.isPermissionSetupComplete(), setupComplete);
        EXPECT_FALSE(created.isDetectionEnabled());
        EXPECT_EQ(storedSettings(), json(stored)) << "construction wrote settings";
    }
}

// --- Listening and the phrases ------------------------------------------------------------

// Requests the model cannot serve yet end listening with a message and start no detector.
TEST_F(AppModelTest, RequestsThatCannotRunYetFailWithAMessage) {
    // Stored settings, the draft added after listening is turned on, the message in English and Korean.
    const std::vector<std::tuple<QByteArray, QString, QString, QString>> cases{
        {R"({"wakePhrases": ["James"]})", {}, "Complete permission setup first.", "먼저 권한 준비를 완료해 주세요."},
        {R"({"permissionSetupComplete": true})", {}, "Add a call phrase first.", "호출어를 먼저 추가해야 합니다."},
        {R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})", " \t ", "Enter a call phrase first.",
         "호출어를 먼저 입력해야 합니다."},
    };
    for (const std::string locale : {"en-US", "ko-KR"}) {
        useLocale(locale);
        for (const auto& [stored, draft, english, korean] : cases) {
            SCOPED_TRACE(english.toStdString() + " " + locale);
            auto& created = makeModel(stored);
            created.setDetectionEnabled(true);
            if (!draft.isEmpty()) {
                created.setWakePhraseDraft(draft);
                created.addWakePhraseFromDraft();
            }
            EXPECT_EQ(created.errorMessage(), locale == "en-US" ? english : korean);
            EXPECT_FALSE(created.isDetectionEnabled());
            EXPECT_EQ(static_cast<size_t>(detectors->stops), detectors->startedWith.size()) << "a detector still runs";
        }
    }
}

// --- Listening after the sound went away ---------------------------------------------------

const Error soundStopped = AppError::microphoneStopped("Built-in Audio");
const Error soundUnreachable = AppError::soundServerUnreachable("Connection refused");

class AppModelResumeTest : public AppModelTest {
protected:
    // The listening model's session reports an error, from the recogniser's thread.
    void report(const Error& error) { ASSERT_TRUE(reportListenerError(error)); }
    void pass(Clock::duration time) { passTime(time); }
    std::size_t tries() const { return detectors->startedWith.size() - 1; }
};

// A try that finds the sound still gone leaves the banner and the switch; audio turns the switch back
// on and says so (the back-off itself is ListeningSession's).
TEST_F(AppModelResumeTest, ListeningLostWithTheSoundResumesAndSaysSo) {
    // The locale, and the message once audio has come.
    const std::vector<std::pair<const char*, QString>> cases{
        {"en-US", "Listening resumed: the sound server is back."},
        {"ko-KR", "사운드 서버가 돌아와 다시 듣고 있습니다."},
    };
    for (const auto& [locale, resumed] : cases) {
        SCOPED_TRACE(locale);
        useLocale(locale);
        model.reset();
        detectors->startedWith.clear();
        auto& listening = listeningModel();
        report(soundStopped);
        EXPECT_EQ(listening.errorMessage(), QString::fromStdString(soundStopped.description()));
        EXPECT_FALSE(listening.isDetectionEnabled());
        EXPECT_TRUE(listening.isWaitingToResume());

        pass(1s);
        ASSERT_EQ(tries(), 1u);
        report(soundUnreachable);
        EXPECT_EQ(listening.errorMessage(), QString::fromStdString(soundStopped.description())) << "not quiet";
        EXPECT_FALSE(listening.isDetectionEnabled());
        pass(2s);
        ASSERT_EQ(tries(), 2u);
        EXPECT_EQ(detectors->startedWith.back(), std::vector<std::string>{"James"});

        EXPECT_EQ(listening.bannerKind(), AppModel::BannerKind::error);
        std::thread(detectors->onListening).join();
        ASSERT_TRUE(eventually([&] { return listening.isDetectionEnabled(); }));
        EXPECT_EQ(listening.errorMessage(), resumed);
        EXPECT_EQ(listening.bannerKind(), AppModel::BannerKind::information) << "good news";
        EXPECT_FALSE(listening.isWaitingToResume());
        detect(); // the resumed session hears calls
        ASSERT_TRUE(eventually([&] { return !calls.isEmpty(); }));
        calls.clear();
    }
}

// What ends the trying: the switch, either way, or an error other than the sound going away.
TEST_F(AppModelResumeTest, TheSwitchOrAnotherErrorEndsTheTrying) {
    const std::vector<std::tuple<const char*, std::function<void(AppModel&)>, std::optional<QString>, bool>> cases{
        {"switched off", [](AppModel& m) { m.setDetectionEnabled(false); },
         QString::fromStdString(soundStopped.description()), false},
        {"switched on", [](AppModel& m) { m.setDetectionEnabled(true); }, std::nullopt, true},
        {"no microphone on the server that came back", [this](AppModel&) { report(AppError::microphoneMissing()); },
         describe(AppError::microphoneMissing()), false},
    };
    for (const auto& [name, act, banner, isListening] : cases) {
        SCOPED_TRACE(name);
        model.reset();
        detectors->startedWith.clear();
        detectors->stops = 0;
        auto& listening = listeningModel();
        report(soundStopped);
        pass(1s);
        ASSERT_EQ(tries(), 1u);
        act(listening);
        EXPECT_EQ(detectors->stops, 2) << "the try under way ends";
        EXPECT_FALSE(listening.isWaitingToResume());
        EXPECT_EQ(listening.isDetectionEnabled(), isListening);
        EXPECT_EQ(listening.errorMessage(), banner);
        std::thread(detectors->onListening).join(); // late, from the try that was stopped
        settle();
        EXPECT_EQ(listening.isDetectionEnabled(), isListening);
    }
}

// Turning listening on again while on starts no second detector; editing phrases restarts it.
TEST_F(AppModelTest, EditingPhrasesRestartsListeningWithTheNewList) {
    auto& created = listeningModel();
    created.setDetectionEnabled(true);
    EXPECT_EQ(detectors->startedWith.size(), 1u);
    EXPECT_EQ(detectors->stops, 0);
    created.setWakePhraseDraft("  Dr. Kim ");
    created.addWakePhraseFromDraft();
    EXPECT_EQ(detectors->startedWith.back(), (std::vector<std::string>{"James", "Dr. Kim"}));
    EXPECT_EQ(detectors->stops, 1);
    EXPECT_EQ(storedSettings()["wakePhrases"], (QJsonArray{"James", "Dr. Kim"}));

    created.removeWakePhrase("dr kim");
    created.removeWakePhrase("JAMES");
    EXPECT_FALSE(created.isDetectionEnabled());
    EXPECT_EQ(storedSettings()["wakePhrases"], QJsonArray{});
}

// Adding takes what PhraseBook takes of the draft and empties it, or keeps the draft and shows the
// hint; listening goes on either way.
TEST_F(AppModelTest, AddingTakesTheDraftOrExplainsWhatItRefuses) {
    const std::vector<std::tuple<QString, QStringList, QString>> cases{
        {"Dr. Kim, Ann", {"Olivia", "Dr. Kim", "Ann"}, {}},
        {"민수",
         {"Olivia", "민수"},
         "“민수” is in a script that listening cannot hear: it stays in the list but is not listened for."},
        {"  olivia  ", {"Olivia"}, "“Olivia” is already in the list."},
    };
    for (const auto& [draft, phrasesAfter, hint] : cases) {
        SCOPED_TRACE(draft.toStdString());
        auto& created = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["Olivia"]})");
        created.setDetectionEnabled(true);
        created.setWakePhraseDraft(draft);
        EXPECT_TRUE(created.canAddWakePhrase());
        created.addWakePhraseFromDraft();
        EXPECT_EQ(created.activeWakePhrases(), phrasesAfter);
        EXPECT_EQ(created.wakePhraseHint(), hint);
        EXPECT_EQ(created.wakePhraseDraft(), phrasesAfter.size() > 1 ? QString() : draft);
        EXPECT_TRUE(created.isDetectionEnabled());
        EXPECT_FALSE(created.errorMessage());
        EXPECT_EQ(storedSettings()["wakePhrases"], QJsonArray::fromStringList(phrasesAfter));
    }
}

// At most 50 phrases are added; more stored are kept, and listening uses the first 50 valid ones and says so.
TEST_F(AppModelTest, TheListIsCappedAndListeningUsesThePhrasesWithinTheLimits) {
    QJsonArray phrases;
    std::vector<std::string> first50;
    for (int index = 1; index <= 60; ++index) {
        const QString phrase = index == 2 ? QString(101, QChar('b')) : QString("Name %1").arg(index);
        phrases.append(phrase);
        if (index != 2 && first50.size() < 50) {
            first50.push_back(phrase.toStdString());
        }
    }
    QJsonObject stored{{"permissionSetupComplete", true}, {"wakePhrases", phrases}};
    const QByteArray storedText = QJsonDocument(stored).toJson();
    for (const std::string locale : {"en-US", "ko-KR"}) {
        useLocale(locale);
        auto& created = makeModel(storedText);
        EXPECT_EQ(created.activeWakePhrases().size(), 60);
        created.setDetectionEnabled(true);
        EXPECT_TRUE(created.isDetectionEnabled());
        EXPECT_EQ(detectors->startedWith.back(), first50);
        EXPECT_EQ(created.errorMessage(),
                  locale == "en-US" ? "Listening for 50 of 60 call phrases: up to 50, of at most 100 characters each."
                                    : "호출 문구 60개 중 50개만 감지합니다(최대 50개, 각 100자 이하).");
        created.setWakePhraseDraft("Zed");
        created.addWakePhraseFromDraft();
        EXPECT_EQ(created.wakePhraseHint(), locale == "en-US" ? "You can add up to 50 call phrases."
                                                              : "호출 문구는 50개까지 추가할 수 있습니다.");
        EXPECT_EQ(storedSettings(), json(storedText)) << "nothing stored was dropped";
    }

    useLocale("en-US");

    // Only a phrase over the length limit: nothing to listen for.    // Only a phrase over the length limit: nothing to
    // listen for.
    auto& tooLong =
        makeModel(R"({"permissionSetupComplete": true, "wakePhrases": [")" + QByteArray(101, 'c') + R"("]})");
    tooLong.setDetectionEnabled(true);
    EXPECT_FALSE(tooLong.isDetectionEnabled());
    EXPECT_EQ(tooLong.errorMessage(), "A call phrase can be at most 100 characters long.");
}

// Phrases in a script listening does not hear are kept and said so when added, but neither
// listened for nor counted; Hangul is heard when listening in Korean.
TEST_F(AppModelTest, PhrasesInAScriptListeningCannotHearAreKeptButNotListenedFor) {
    struct Case {
        std::string locale;
        QString draft;
        std::vector<std::string> listened;
        QString hint;
    };
    const std::vector<Case> cases{
        {"en-US",
         "Anna, שרה, مريم",
         {"Olivia", "Anna"},
         "“שרה” is in a script that listening cannot hear: it stays in the list but is not listened for."},
        {"ko-KR",
         "민수, Анна",
         {"Olivia", "민수"},
         "“Анна”은(는) 감지할 수 없는 문자로 되어 있어 목록에만 남고 감지하지 않습니다."},
    };
    for (const auto& [locale, draft, listened, hint] : cases) {
        SCOPED_TRACE(draft.toStdString());
        useLocale(locale);
        auto& created = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["Olivia"]})");
        created.setDetectionEnabled(true);
        created.setWakePhraseDraft(draft);
        created.addWakePhraseFromDraft();
        EXPECT_EQ(created.activeWakePhrases(), QStringList{"Olivia"} + draft.split(", "));
        EXPECT_EQ(created.wakePhraseHint(), hint);
        EXPECT_EQ(detectors->startedWith.back(), listened);
        EXPECT_EQ(created.listenedWakePhraseCount(), int(listened.size()));
        EXPECT_EQ(created.hearableWakePhraseCount(), int(listened.size()));
        EXPECT_FALSE(created.errorMessage()) << "all that is heard is listened for";
    }

    useLocale("en-US");
    auto& unheard = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["שרה"]})");
    unheard.setDetectionEnabled(true);
    EXPECT_FALSE(unheard.isDetectionEnabled());
    EXPECT_EQ(unheard.errorMessage(),
              "“שרה” is in a script that listening cannot hear: it stays in the list but is not listened for.");
}

// Listening at launch needs the option, complete setup and a phrase; a failing start reports as any start.
TEST_F(AppModelTest, ListensAtStartOnlyWhenAskedWithSetupCompleteAndPhrases) {
    // Stored settings, whether listening is on after start-up.
    const std::vector<std::pair<QByteArray, bool>> cases{
        {R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "listenAtStart": true})", true},
        {R"({"permissionSetupComplete": true, "wakePhrases": ["James"], "listenAtStart": false})", false},
        {R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})", false},
        {R"({"permissionSetupComplete": true, "wakePhrases": [], "listenAtStart": true})", false},
        {R"({"wakePhrases": ["James"], "listenAtStart": true})", false},
    };
    for (const auto& [stored, listens] : cases) {
        SCOPED_TRACE(stored.toStdString());
        const size_t started = detectors->startedWith.size();
        auto& created = makeModel(stored);
        EXPECT_EQ(created.isListenAtStart(), stored.contains(R"("listenAtStart": true)"));
        created.applicationDidLaunch();
        EXPECT_EQ(created.isDetectionEnabled(), listens);
        EXPECT_EQ(detectors->startedWith.size(), started + (listens ? 1 : 0));
        EXPECT_FALSE(created.errorMessage());
        ASSERT_TRUE(idle());
    }

    auto& failing = makeModel(cases.front().first);
    failing.applicationDidLaunch();
    std::thread(detectors->onError, Error::platform("Built-in microphone was not found.")).join();
    ASSERT_TRUE(eventually([&] { return failing.errorMessage().has_value(); }));
    EXPECT_EQ(failing.errorMessage(), "Built-in microphone was not found.");
    EXPECT_FALSE(failing.isDetectionEnabled());

    failing.setListenAtStart(false);
    EXPECT_EQ(storedSettings()["listenAtStart"], false);
    failing.setListenAtStart(true);
    EXPECT_EQ(storedSettings()["listenAtStart"], true);
}

// An existing autostart entry is left untouched; one that cannot be written is explained, switch off.
TEST_F(AppModelTest, StartAtLoginKeepsAnEntryThatSaysSoAndExplainsAFailure) {
    const QString autostart = autostartFolder();
    const QString entry = autostart + "/io.github.harkwell.Harkwell.desktop";
    ASSERT_TRUE(QDir().mkpath(autostart));
    const QByteArray edited = "[Desktop Entry]\nType=Application\nExec=harkwell --edited\n";
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(edited) == edited.size());
    file.close();
    auto& created = makeModel("{}");
    EXPECT_TRUE(created.isStartAtLogin());
    created.setStartAtLogin(true);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), edited);
    file.close();

    ASSERT_TRUE(QDir(autostart).removeRecursively());
    QFile blocker(autostart); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (const auto& [locale, message] : std::vector<std::pair<std::string, QString>>{
             {"en-US", "Start at login could not be turned on: cannot create the folder %1"},
             {"ko-KR", "로그인 시 시작을 켜지 못했습니다: cannot create the folder %1"}}) {
        useLocale(locale);
        created.panelDidOpen();
        EXPECT_FALSE(created.isStartAtLogin());
        created.setStartAtLogin(true);
        EXPECT_EQ(created.errorMessage(), message.arg(autostart));
        EXPECT_FALSE(created.isStartAtLogin());
    }
}

// --- Sensitivity and the return after a call ------------------------------------------

// Exact raw sensitivity else medium; a stored wait counts as its nearest choice, non-integers default.
TEST_F(AppModelTest, ReadsTheSensitivityAndTheReturnWait) {
    using Level = DetectionSensitivity;
    const std::vector<std::tuple<QByteArray, Level, int>> cases{
        {"{}", Level::medium, 30},
        {R"({"detectionSensitivity": "low", "returnAfterQuietSeconds": 0})", Level::low, 0},
        {R"({"detectionSensitivity": "high", "returnAfterQuietSeconds": 10})", Level::high, 10},
        {R"({"detectionSensitivity": "High", "returnAfterQuietSeconds": 45})", Level::medium, 60},
        {R"({"detectionSensitivity": 2, "returnAfterQuietSeconds": 20})", Level::medium, 30},
        {R"({"detectionSensitivity": "", "returnAfterQuietSeconds": 1})", Level::medium, 10},
        {R"({"returnAfterQuietSeconds": -10})", Level::medium, 30},
        {R"({"returnAfterQuietSeconds": 12.5})", Level::medium, 30},
        {R"({"returnAfterQuietSeconds": "10"})", Level::medium, 30},
    };
    for (const auto& [stored, level, seconds] : cases) {
        SCOPED_TRACE(stored.toStdString());
        auto& created = makeModel(stored);
        EXPECT_EQ(created.detectionSensitivity(), level);
        EXPECT_EQ(created.returnAfterQuietSeconds(), seconds);
        EXPECT_EQ(storedSettings(), json(stored)) << "construction wrote settings";
    }
    model->setDetectionSensitivity(Level::high);
    model->setReturnAfterQuietSeconds(7);
    EXPECT_EQ(model->returnAfterQuietSeconds(), 10);
    EXPECT_EQ(storedSettings()["detectionSensitivity"], "high");
    EXPECT_EQ(storedSettings()["returnAfterQuietSeconds"], 10);
    model->setReturnAfterQuietSeconds(-1);
    EXPECT_EQ(storedSettings()["returnAfterQuietSeconds"], 0);
}

// A new level while listening restarts the detector unnoticed (no flicker, banner or lost return).
TEST_F(AppModelTest, ANewSensitivityRestartsListeningUnnoticed) {
    detectors->inputLevel = 0.25;
    auto& created = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})");
    created.setDetectionSensitivity(DetectionSensitivity::high);
    EXPECT_TRUE(detectors->madeAt.empty());
    EXPECT_EQ(created.inputLevel(), 0) << "the level is the detector's only while listening";
    created.setDetectionEnabled(true);
    EXPECT_EQ(created.inputLevel(), 0.25);
    hearCall();
    int switchNotifications = 0;
    int bannerNotifications = 0;
    QObject::connect(&created, &AppModel::isDetectionEnabledChanged, [&] { ++switchNotifications; });
    QObject::connect(&created, &AppModel::errorMessageChanged, [&] { ++bannerNotifications; });
    const auto firstSession = detectors->onDetected;

    created.setDetectionSensitivity(DetectionSensitivity::high);
    EXPECT_EQ(detectors->madeAt.size(), 1u) << "the same level again restarted listening";
    created.setDetectionSensitivity(DetectionSensitivity::low);
    EXPECT_EQ(detectors->madeAt,
              (std::vector<DetectionSensitivity>{DetectionSensitivity::high, DetectionSensitivity::low}));
    EXPECT_EQ(detectors->startedWith, (std::vector<std::vector<std::string>>(2, {"James"})));
    EXPECT_EQ(detectors->stops, 1);
    EXPECT_TRUE(created.isDetectionEnabled());
    EXPECT_EQ(switchNotifications, 0);
    EXPECT_EQ(bannerNotifications, 0);
    EXPECT_EQ(created.secondsUntilReturn(), 30);

    std::thread(firstSession, "James").join();
    settle();
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"transparency"}) << "the stopped session switched";
    hearCall();
    EXPECT_EQ(calls, (QStringList{"James", "James"}));
}

// --- The microphone ------------------------------------------------------------------------

const AudioInputDevice builtIn{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio", true};
const AudioInputDevice usbMicrophone{"alsa_input.usb-Blue_Yeti", "Yeti Stereo Microphone"};
const AudioInputDevice headset{"bluez_input.AA_BB_CC_DD_EE_FF.0", "AirPods Pro", false, true};
const AudioInputDevice outputMonitor{"alsa_output.pci.analog-stereo.monitor", "Monitor of Built-in Audio", false, false,
                                     true};

TEST_F(AppModelTest, TheMicrophoneChoiceIsStoredAndListeningMovesToIt) {
    audioInputs->setDevices({headset, outputMonitor, builtIn, usbMicrophone});
    auto& listening = listeningModel();
    listening.refreshMicrophoneInputs();
    const QList<AppModel::MicrophoneInput> offered{{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio"},
                                                   {"alsa_input.usb-Blue_Yeti", "Yeti Stereo Microphone"},
                                                   {"bluez_input.AA_BB_CC_DD_EE_FF.0", "AirPods Pro", true}};
    ASSERT_TRUE(eventually([&] { return !listening.microphoneInputs().isEmpty(); }));
    EXPECT_EQ(listening.microphoneInputs(), offered) << "no monitor; the headset last";

    listening.setMicrophoneSource("alsa_input.usb-Blue_Yeti");
    EXPECT_EQ(storedSettings().value("microphoneSource").toString(), "alsa_input.usb-Blue_Yeti");
    ASSERT_TRUE(eventually([&] { return detectors->madeOn.size() == 2; }));
    EXPECT_EQ(detectors->madeOn, (std::vector<std::string>{"", "alsa_input.usb-Blue_Yeti"}));
    EXPECT_TRUE(listening.isDetectionEnabled());
    listening.setMicrophoneSource("");
    EXPECT_FALSE(storedSettings().contains("microphoneSource"));
    EXPECT_EQ(detectors->madeOn.back(), "");

    // A sound server out of reach lists nothing, and listening still starts: the detector tells.
    audioInputs->setUnreachable("Connection refused");
    listening.refreshMicrophoneInputs();
    EXPECT_TRUE(eventually([&] { return listening.microphoneInputs().isEmpty(); }));
    listening.setMicrophoneSource("alsa_input.usb-Blue_Yeti");
    ASSERT_TRUE(eventually([&] { return detectors->madeOn.size() == 4; }));
    EXPECT_EQ(detectors->madeOn.back(), "alsa_input.usb-Blue_Yeti");

    // A chosen input that is gone: listening goes on the automatic choice, which the model names.
    audioInputs->setUnreachable(std::nullopt);
    audioInputs->setDevices({builtIn});
    QSignalSpy sourceChanges(&listening, &AppModel::microphoneSourceChanged);
    listening.setMicrophoneSource("alsa_input.usb-Gone");
    ASSERT_TRUE(eventually([&] { return listening.fallbackMicrophone() == "Built-in Audio"; }));
    EXPECT_EQ(detectors->madeOn.back(), "");
    EXPECT_EQ(sourceChanges.count(), 2) << "the choice, then the input used in its place";
}

} // namespace
} // namespace harkwell
