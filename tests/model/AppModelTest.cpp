// The model as the front of its collaborators: the settings it reads and writes, and the wiring
// between listening, the phrases and the microphone; what each collaborator decides is checked in
// its own test.
#include "AppModelHarness.h"

#include <QDir>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <future>
#include <stdexcept>

namespace harkwell {
namespace {

using namespace harkwell::testing;

TEST_F(AppModelTest, LoadsPhrasesMigratingTheLegacySinglePhrase) {
    // Stored settings, the phrases loaded, the settings afterwards (empty: unchanged).
    const std::vector<std::tuple<QByteArray, QStringList, QByteArray>> cases{
        {R"({"wakePhrase": "  James "})", {"James"}, R"({"wakePhrases": ["James"], "wakePhrase": "James"})"},
        {R"({"wakePhrases": [], "wakePhrase": "James"})", {}, {}},
        {R"({"wakePhrases": "Al", "wakePhrase": "Kim"})", {"Kim"}, R"({"wakePhrases": ["Kim"], "wakePhrase": "Kim"})"},
        {R"({"wakePhrase": "   "})", {}, R"({"wakePhrases": []})"},
        {R"({"wakePhrases": ["Anna\nBob\tCarl", "Dee\u0007"]})", {"Anna", "Bob", "Carl", "Dee"}, {}},
    };
    for (const auto& [stored, phrases, storedAfter] : cases) {
        SCOPED_TRACE(stored.toStdString());
        EXPECT_EQ(makeModel(stored).activeWakePhrases(), phrases);
        EXPECT_EQ(storedSettings(), json(storedAfter.isEmpty() ? stored : storedAfter));
    }
}

// Exact raw values only, else the default; a stored wait counts as its nearest choice; the setup
// flag only while permissions hold; nothing written at load.
TEST_F(AppModelTest, ReadsTheStoredChoicesWithoutWritingThem) {
    using Mode = ListeningMode;
    using Level = DetectionSensitivity;
    using Media = MediaOnCall;
    const std::vector<std::tuple<QByteArray, Status, Mode, bool, Level, int, Media>> cases{
        {"{}", Status::authorized, Mode::anc, false, Level::medium, 30, Media::pause},
        {R"({"selectedMode": "transparency", "permissionSetupComplete": true, "detectionSensitivity": "low",
             "returnAfterQuietSeconds": 0, "mediaOnCall": "lower"})",
         Status::authorized, Mode::transparency, true, Level::low, 0, Media::lower},
        {R"({"selectedMode": "Transparency", "permissionSetupComplete": true, "detectionSensitivity": "High",
             "returnAfterQuietSeconds": 45, "mediaOnCall": "Leave"})",
         Status::denied, Mode::anc, false, Level::medium, 60, Media::pause},
        {R"({"selectedMode": 2, "permissionSetupComplete": "true", "detectionSensitivity": "high",
             "returnAfterQuietSeconds": 12.5, "mediaOnCall": "leave"})",
         Status::authorized, Mode::anc, false, Level::high, 30, Media::leave},
        {R"({"detectionSensitivity": 2, "returnAfterQuietSeconds": "10", "mediaOnCall": 1})", Status::authorized,
         Mode::anc, false, Level::medium, 30, Media::pause},
    };
    for (const auto& [stored, microphone, mode, setupComplete, level, seconds, onCall] : cases) {
        SCOPED_TRACE(stored.toStdString());
        permissions->microphone = microphone;
        const auto& created = makeModel(stored);
        EXPECT_EQ(created.selectedMode(), mode);
        EXPECT_EQ(created.isPermissionSetupComplete(), setupComplete);
        EXPECT_EQ(created.detectionSensitivity(), level);
        EXPECT_EQ(created.returnAfterQuietSeconds(), seconds);
        EXPECT_EQ(created.mediaOnCall(), onCall);
        EXPECT_FALSE(created.isDetectionEnabled());
        EXPECT_EQ(storedSettings(), json(stored)) << "construction wrote settings";
    }
}

// The last calls of this run, the latest first, with the words heard; never written to the settings.
TEST_F(AppModelTest, KeepsTheLastFiveCallsInMemoryOnly) {
    listeningModel();
    for (int call = 1; call <= 6; ++call) {
        std::thread(detectors->onHeard, "James", "hey James " + std::to_string(call)).join();
        ASSERT_TRUE(eventually([&] { return calls.size() == call && !model->isCommandRunning(); }));
    }
    QStringList heard;
    for (const auto& call : model->recentCalls()) {
        heard.append(call.phrase + ": " + call.heard);
    }
    EXPECT_EQ(heard, QStringList({"James: hey James 6", "James: hey James 5", "James: hey James 4",
                                  "James: hey James 3", "James: hey James 2"}));
    EXPECT_FALSE(contentsOf(path).contains("hey"));
}

// The stored shortcut is registered as the model starts; a refusal shows in the banner, with the
// shortcut still shown and stored for the next launch.
TEST_F(AppModelTest, TheStoredShortcutIsRegisteredAtStart) {
    const QByteArray stored = R"({"hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})";
    for (const std::int32_t status : {0, -10}) {
        SCOPED_TRACE(status);
        hotKeys->nextStatus = status;
        hotKeys->registered.reset();
        auto& created = makeModel(stored);
        EXPECT_EQ(hotKeys->registered, status ? std::nullopt : created.hotKeySetting());
        EXPECT_EQ(created.errorMessage(), status ? std::optional(QString::fromStdString(
                                                       HotKeyError::registrationFailed(status).errorDescription()))
                                                 : std::nullopt);
        EXPECT_EQ(created.hotKeyDisplayName(), "Ctrl+Alt+K");
        EXPECT_EQ(storedSettings(), json(stored));
    }
}

// Each choice is stored under its key, as the choice the model took.
TEST_F(AppModelTest, StoresEachChoiceUnderItsKey) {
    const std::vector<std::tuple<const char*, std::function<void(AppModel&)>, QJsonValue>> cases{
        {"detectionSensitivity", [](AppModel& m) { m.setDetectionSensitivity(DetectionSensitivity::high); }, "high"},
        {"returnAfterQuietSeconds", [](AppModel& m) { m.setReturnAfterQuietSeconds(7); }, 10},
        {"returnAfterQuietSeconds", [](AppModel& m) { m.setReturnAfterQuietSeconds(-1); }, 0},
        {"mediaOnCall", [](AppModel& m) { m.setMediaOnCall(MediaOnCall::lower); }, "lower"},
        {"listenAtStart", [](AppModel& m) { m.setListenAtStart(true); }, true},
        {"listenAtStart", [](AppModel& m) { m.setListenAtStart(false); }, false},
        {"microphoneSource", [](AppModel& m) { m.setMicrophoneSource("alsa_input.usb-Blue_Yeti"); },
         "alsa_input.usb-Blue_Yeti"},
        {"microphoneSource", [](AppModel& m) { m.setMicrophoneSource(""); }, QJsonValue::Undefined},
    };
    auto& created = makeModel(R"({"microphoneSource": "alsa_input.pci"})");
    for (const auto& [key, choose, stored] : cases) {
        SCOPED_TRACE(key);
        choose(created);
        EXPECT_EQ(storedSettings().value(key), stored);
    }
    EXPECT_EQ(created.returnAfterQuietSeconds(), 0);
    EXPECT_FALSE(created.isListenAtStart());
}

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
                addPhrase(draft);
            }
            EXPECT_EQ(created.errorMessage(), locale == "en-US" ? english : korean);
            EXPECT_FALSE(created.isDetectionEnabled());
            EXPECT_EQ(static_cast<size_t>(detectors->stops), detectors->startedWith.size()) << "a detector still runs";
        }
    }
}

// Listening starts over the phrases PhraseBook listens for, and the banner says when some are left
// out; with none it can hear, listening does not start and the banner says why.
TEST_F(AppModelTest, TheBannerSaysWhenListeningLeavesPhrasesOut) {
    QStringList sixty;
    for (int index = 1; index <= 60; ++index) {
        sixty.append(index == 2 ? QString(101, QChar('b')) : QString("Name %1").arg(index));
    }
    std::vector<std::string> first50;
    for (const QString& phrase : sixty.mid(0, 51)) {
        if (phrase.size() <= 100) {
            first50.push_back(phrase.toStdString());
        }
    }
    // The locale, the stored phrases, those listened for (none: listening stays off), the banner.
    const std::vector<std::tuple<std::string, QStringList, std::vector<std::string>, std::optional<QString>>> cases{
        {"en-US", sixty, first50, "Listening for 50 of 60 call phrases: up to 50, of at most 100 characters each."},
        {"ko-KR", sixty, first50, "호출 문구 60개 중 50개만 감지합니다(최대 50개, 각 100자 이하)."},
        {"en-US", {"Olivia", "Anna", "שרה"}, {"Olivia", "Anna"}, std::nullopt},
        {"en-US", {"שרה"}, {}, "“\u2068שרה\u2069” cannot be heard: write call phrases in Latin letters or Hangul."},
    };
    for (const auto& [locale, phrases, listened, banner] : cases) {
        SCOPED_TRACE(phrases.first().toStdString() + " " + locale);
        useLocale(locale);
        const QJsonObject stored{{"permissionSetupComplete", true},
                                 {"wakePhrases", QJsonArray::fromStringList(phrases)}};
        detectors->startedWith.clear();
        auto& created = makeModel(QJsonDocument(stored).toJson());
        created.setDetectionEnabled(true);
        EXPECT_EQ(created.isDetectionEnabled(), !listened.empty());
        EXPECT_EQ(detectors->startedWith, std::vector<std::vector<std::string>>(listened.empty() ? 0 : 1, listened));
        EXPECT_EQ(created.errorMessage(), banner);
        EXPECT_EQ(created.listenedWakePhraseCount(), int(listened.size()));
        EXPECT_EQ(storedSettings(), stored) << "nothing stored was dropped";
    }
}

// Without a model that hears Korean a Hangul phrase is added with the hint, neither counted nor
// listened for, and the notice turns to Korean while it is listed; in either build, which listens
// for the Latin phrases with the basic recogniser. Korean phrases alone do not start listening, and
// listening over them ends when the model turns out not to hear them.
TEST_F(AppModelTest, WithoutAModelThatHearsKoreanHangulPhrasesAreNamedAndLeftOut) {
    struct Texts {
        QString basicNotice, koreanNotice, hint;
    };
    const std::vector<std::pair<std::string, Texts>> cases{
        {"en-US",
         {"Accurate recognition model not installed: listening with the basic recogniser.",
          "Accurate recognition model not installed: Korean cannot be heard.",
          "“\u2068민수\u2069” cannot be heard: Korean needs the accurate recognition model."}},
        {"ko-KR",
         {"정확한 인식 모델이 설치되지 않았습니다. 기본 인식기로 듣고 있습니다.",
          "정확한 인식 모델이 설치되지 않았습니다. 한국어를 들을 수 없습니다.",
          "“\u2068민수\u2069”은(는) 들을 수 없습니다. 한국어에는 정확한 인식 모델이 필요합니다."}},
    };
    for (const auto& [locale, texts] : cases) {
        SCOPED_TRACE(locale);
        useLocale(locale);
        whisperModel = std::make_shared<WhisperModel>(std::string());
        auto& created = listeningModel();
        EXPECT_EQ(created.recognizerNotice(), texts.basicNotice);
        addPhrase("민수");
        EXPECT_EQ(created.wakePhraseHint(), texts.hint);
        EXPECT_EQ(created.activeWakePhrases(), (QStringList{"James", "민수"}));
        EXPECT_EQ(created.listenedWakePhraseCount(), 1);
        EXPECT_EQ(detectors->startedWith.back(), std::vector<std::string>{"James"});
        EXPECT_EQ(created.recognizerNotice(), texts.koreanNotice);

        created.removeWakePhrase("민수");
        EXPECT_EQ(created.recognizerNotice(), texts.basicNotice);
        EXPECT_EQ(detectors->startedWith.back(), std::vector<std::string>{"James"});

        addPhrase("민수");
        created.removeWakePhrase("James");
        EXPECT_FALSE(created.isDetectionEnabled());
        EXPECT_EQ(created.errorMessage(), texts.hint);

        // Listening over Korean alone, begun while the model loads, ends once it fails.
        QTemporaryDir directory;
        const QString file = directory.filePath("ggml-model.bin");
        writeFile(file, "ggml");
        std::promise<void> release;
        whisperModel = std::make_shared<WhisperModel>(
            file.toStdString(),
            [released = release.get_future().share()](const std::string&) -> std::shared_ptr<WhisperTranscriber> {
                released.wait();
                throw std::runtime_error("not a ggml file");
            });
        auto& loading = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["민수"]})");
        loading.setDetectionEnabled(true);
        EXPECT_TRUE(loading.isDetectionEnabled());
        release.set_value();
        ASSERT_TRUE(eventually([&] { return !loading.isDetectionEnabled(); }));
        EXPECT_EQ(loading.errorMessage(), texts.hint);
        EXPECT_EQ(detectors->stops, int(detectors->startedWith.size())) << "a detector still runs";
    }
}

// Turning listening on again while on starts no second detector; editing phrases restarts it.
TEST_F(AppModelTest, EditingPhrasesRestartsListeningWithTheNewList) {
    auto& created = listeningModel();
    created.setDetectionEnabled(true);
    EXPECT_EQ(detectors->startedWith.size(), 1u);
    EXPECT_EQ(detectors->stops, 0);
    addPhrase("  Dr. Kim ");
    EXPECT_EQ(detectors->startedWith.back(), (std::vector<std::string>{"James", "Dr. Kim"}));
    EXPECT_EQ(detectors->stops, 1);
    EXPECT_EQ(storedSettings()["wakePhrases"], (QJsonArray{"James", "Dr. Kim"}));

    created.removeWakePhrase("dr kim");
    created.removeWakePhrase("JAMES");
    EXPECT_FALSE(created.isDetectionEnabled());
    EXPECT_EQ(storedSettings()["wakePhrases"], QJsonArray{});
}

// Adding takes what PhraseBook takes of the draft and empties it, or keeps the draft; its hint
// stays shown either way, and listening goes on.
TEST_F(AppModelTest, AddingTakesTheDraftAndShowsPhraseBooksHint) {
    const std::vector<std::tuple<QString, QStringList, QString>> cases{
        {"Иван",
         {"Olivia", "Иван"},
         "“\u2068Иван\u2069” cannot be heard: write call phrases in Latin letters or Hangul."},
        {"  olivia  ", {"Olivia"}, "“\u2068Olivia\u2069” is already in the list."},
    };
    for (const auto& [draft, phrasesAfter, hint] : cases) {
        SCOPED_TRACE(draft.toStdString());
        auto& created = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["Olivia"]})");
        created.setDetectionEnabled(true);
        addPhrase(draft);
        EXPECT_EQ(created.activeWakePhrases(), phrasesAfter);
        EXPECT_EQ(created.wakePhraseHint(), hint);
        EXPECT_EQ(created.wakePhraseDraft(), phrasesAfter.size() > 1 ? QString() : draft);
        EXPECT_TRUE(created.isDetectionEnabled());
        EXPECT_FALSE(created.errorMessage());
        EXPECT_EQ(storedSettings()["wakePhrases"], QJsonArray::fromStringList(phrasesAfter));
    }
}

// Listening at launch needs the option, complete setup and a phrase.
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
}

// An existing autostart entry is left untouched; one that cannot be written is explained, switch off.
TEST_F(AppModelTest, StartAtLoginKeepsAnEntryThatSaysSoAndExplainsAFailure) {
    const QString autostart = autostartFolder();
    const QString entry = autostart + "/io.github.harkwell.Harkwell.desktop";
    ASSERT_TRUE(QDir().mkpath(autostart));
    const QByteArray edited = "[Desktop Entry]\nType=Application\nExec=harkwell --edited\n";
    writeFile(entry, edited);
    auto& created = makeModel("{}");
    EXPECT_TRUE(created.isStartAtLogin());
    created.setStartAtLogin(true);
    EXPECT_EQ(contentsOf(entry), edited);

    ASSERT_TRUE(QDir(autostart).removeRecursively());
    writeFile(autostart, ""); // a file where the folder should be
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

// The loss of the sound shows as the error and turns the switch off; audio turns it back on and
// says so; the switch, either way, ends the trying (the back-off itself is ListeningSession's).
TEST_F(AppModelTest, ListeningLostWithTheSoundResumesAndSaysSoUnlessTheUserDecides) {
    const Error soundStopped = AppError::microphoneStopped("Built-in Audio");
    const QString stopped = QString::fromStdString(soundStopped.description());
    // The locale; what comes after the first try began: audio (none) or the switch; the message after.
    const std::vector<std::tuple<std::string, std::optional<bool>, std::optional<QString>>> cases{
        {"en-US", std::nullopt, "Listening resumed: the sound server is back."},
        {"ko-KR", std::nullopt, "사운드 서버가 돌아와 다시 듣고 있습니다."},
        {"en-US", false, stopped},
        {"en-US", true, std::nullopt},
    };
    for (const auto& [locale, switchedOn, message] : cases) {
        SCOPED_TRACE(locale + (switchedOn ? (*switchedOn ? " on" : " off") : " audio"));
        useLocale(locale);
        model.reset();
        detectors->startedWith.clear();
        detectors->stops = 0;
        calls.clear();
        auto& listening = listeningModel();
        ASSERT_TRUE(reportListenerError(soundStopped));
        passTime(1s);
        ASSERT_EQ(detectors->startedWith, (std::vector<std::vector<std::string>>(2, {"James"}))) << "no try";
        EXPECT_EQ(listening.errorMessage(), stopped);
        EXPECT_EQ(listening.bannerKind(), AppModel::BannerKind::error);
        EXPECT_FALSE(listening.isDetectionEnabled());
        EXPECT_TRUE(listening.isWaitingToResume());

        if (switchedOn) {
            listening.setDetectionEnabled(*switchedOn);
            EXPECT_EQ(detectors->stops, 2) << "the try under way ends";
            EXPECT_FALSE(listening.isWaitingToResume());
            std::thread(detectors->onListening).join(); // late, from the try that was stopped
            settle();
            EXPECT_EQ(listening.isDetectionEnabled(), *switchedOn);
            EXPECT_EQ(listening.errorMessage(), message);
            continue;
        }
        std::thread(detectors->onListening).join();
        ASSERT_TRUE(eventually([&] { return listening.isDetectionEnabled(); }));
        EXPECT_EQ(listening.errorMessage(), message);
        EXPECT_EQ(listening.bannerKind(), AppModel::BannerKind::information) << "good news";
        detect(); // the resumed session hears calls
        ASSERT_TRUE(eventually([&] { return !calls.isEmpty(); }));
    }
}

// A new level or microphone while listening restarts the detector unnoticed: no flicker of the
// switch, no banner, no lost return. A chosen input that is gone gives way to the automatic choice,
// which the model names.
TEST_F(AppModelTest, ANewSensitivityOrMicrophoneRestartsListeningUnnoticed) {
    auto& created = listeningModel();
    hearCall();
    int switchNotifications = 0;
    int bannerNotifications = 0;
    QObject::connect(&created, &AppModel::isDetectionEnabledChanged, [&] { ++switchNotifications; });
    QObject::connect(&created, &AppModel::errorMessageChanged, [&] { ++bannerNotifications; });

    created.setDetectionSensitivity(DetectionSensitivity::low);
    EXPECT_EQ(detectors->madeAt,
              (std::vector<DetectionSensitivity>{DetectionSensitivity::medium, DetectionSensitivity::low}));
    created.setMicrophoneSource("alsa_input.pci-0000_00_1f.3.analog-stereo");
    ASSERT_TRUE(eventually([&] { return detectors->madeOn.size() == 3; }));
    EXPECT_EQ(detectors->madeOn.back(), "alsa_input.pci-0000_00_1f.3.analog-stereo");
    QSignalSpy sourceChanges(&created, &AppModel::microphoneSourceChanged);
    created.setMicrophoneSource("alsa_input.usb-Gone");
    ASSERT_TRUE(eventually([&] { return created.fallbackMicrophone() == "Built-in Audio"; }));
    EXPECT_EQ(detectors->madeOn.back(), "");
    EXPECT_EQ(created.microphoneSource(), "alsa_input.usb-Gone");
    EXPECT_EQ(sourceChanges.count(), 2) << "the choice, then the input used in its place";
    EXPECT_EQ(detectors->startedWith, (std::vector<std::vector<std::string>>(4, {"James"})));
    EXPECT_TRUE(created.isDetectionEnabled());
    EXPECT_EQ(switchNotifications, 0);
    EXPECT_EQ(bannerNotifications, 0);
    EXPECT_EQ(created.secondsUntilReturn(), 30);
}

} // namespace
} // namespace harkwell
