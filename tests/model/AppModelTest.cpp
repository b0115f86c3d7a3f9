#include "model/AppModel.h"
#include "EventLoop.h"
#include "ModelFakes.h"
#include "locale/AppMetadata.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace harkwell {
namespace {

using namespace harkwell::testing;
using Status = AuthorizationStatus;

QJsonObject json(const QByteArray& text) { return QJsonDocument::fromJson(text).object(); }
QString describe(const AppError& error) { return QString::fromStdString(error.errorDescription()); }
void useLocale(const std::string& locale) {
    setAppMetadataLookupForTesting([locale](std::string_view) { return std::optional<std::string>(locale); });
}

class AppModelTest : public ::testing::Test, protected FakeModelParts {
protected:
    AppModelTest() { useLocale("en-US"); }
    ~AppModelTest() override {
        model.reset();
        airPods->release();
        setAppMetadataLookupForTesting(nullptr);
    }

    // Replaces the model with one over a new settings file with this content: QSettings keeps
    // what it parsed of a file for the life of the process and could take a rewrite of the same
    // size in the same second for the file it knows. The old model goes first, as it unhooks the
    // fake hot-key backend.
    AppModel& makeModel(const QByteArray& settings) {
        model.reset();
        path = directory.filePath(QString("Harkwell-%1.json").arg(++generation));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(settings) == settings.size());
        file.close();
        model = std::make_unique<AppModel>(dependencies(path));
        model->onCallDetected = [this](const QString& phrase) { calls.append(phrase); };
        return *model;
    }
    QJsonObject storedSettings() const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? json(file.readAll()) : QJsonObject();
    }
    // A model whose permission setup is complete, listening for "James".
    AppModel& listeningModel() {
        auto& created = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})");
        created.setDetectionEnabled(true);
        return created;
    }

    // The recogniser hears the call, on its own thread.
    void detect() { std::thread(detectors->onDetected, "James").join(); }
    void pressShortcut() { hotKeys->backend->press({HotKeyController::signature, HotKeyController::hotKeyNumber}); }

    QTemporaryDir directory;
    QString path;
    int generation = 0;
    std::unique_ptr<AppModel> model;
    QStringList calls;
};

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

// The mode is read by its exact raw value; the permission flag counts only while the core
// permissions still hold; listening starts off; construction writes nothing.
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

// --- Permission setup --------------------------------------------------------------------

// Setup prepares Bluetooth through the helper once speech and microphone access are granted,
// reading the AirPods' mode; AirPods that are not connected do not hold it up. Decided
// permissions are not asked again.
TEST_F(AppModelTest, PermissionSetupEndsAtTheFirstRefusal) {
    const AppError helperMissing = AppError::helperMissing("/x/ModeRelay");
    // Speech and microphone permissions, what preparing Bluetooth answers, the message.
    const std::vector<std::tuple<Status, Status, FakeAirPods::Outcome, std::optional<QString>>> cases{
        {Status::denied, Status::authorized, ListeningMode::anc, "Speech Recognition permission is required."},
        {Status::authorized, Status::restricted, ListeningMode::anc, "Microphone permission is required."},
        {Status::authorized, Status::authorized, ListeningMode::transparency, std::nullopt},
        {Status::authorized, Status::authorized, AppError::airPodsNotConnected(), std::nullopt},
        {Status::authorized, Status::authorized, helperMissing, describe(helperMissing)},
    };
    for (const auto& [speech, microphone, bluetooth, message] : cases) {
        SCOPED_TRACE(message.value_or("no message").toStdString());
        airPods = std::make_shared<FakeAirPods>();
        airPods->willAnswer(bluetooth);
        permissions->speech = speech;
        permissions->microphone = microphone;
        auto& created = makeModel(R"({"permissionSetupComplete": true})");
        created.preparePermissions();
        ASSERT_TRUE(eventually([&] { return !created.isCommandRunning(); }));
        EXPECT_EQ(storedSettings()["permissionSetupComplete"], !message);
        EXPECT_EQ(created.permissionStatusText(), message ? "Permissions required" : "Permissions ready");
        EXPECT_EQ(created.errorMessage(), message);
        EXPECT_EQ(airPods->commands().size(), speech == microphone ? 1u : 0u);
        const auto* answered = std::get_if<ListeningMode>(&bluetooth);
        EXPECT_EQ(created.selectedMode(), answered ? *answered : ListeningMode(ListeningMode::anc));
        EXPECT_TRUE(permissions->requests.empty());
    }
}

// Undecided permissions are asked one after the other, each with its status text; a second run
// while one is under way is ignored, and an answer that comes after the model is gone does nothing.
TEST_F(AppModelTest, PermissionSetupAsksSpeechThenMicrophoneThenBluetooth) {
    permissions->speech = permissions->microphone = Status::notDetermined;
    airPods->willAnswer(ListeningMode::transparency);
    auto& created = makeModel("{}");
    QStringList statusTexts;
    QObject::connect(&created, &AppModel::permissionStatusTextChanged,
                     [&] { statusTexts.append(created.permissionStatusText()); });
    created.preparePermissions();
    created.preparePermissions();
    EXPECT_EQ(permissions->requests, std::vector<std::string>{"speech"});
    permissions->answerSpeech(Status::authorized);
    ASSERT_TRUE(eventually([&] { return permissions->requests.size() == 2; }));
    permissions->answerMicrophone(true);
    ASSERT_TRUE(eventually([&] { return created.isPermissionSetupComplete(); }));
    EXPECT_EQ(statusTexts, (QStringList{"Checking Speech Recognition permission", "Checking microphone permission",
                                        "Checking Bluetooth permission", "Permissions ready"}));
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"request-permission"});

    makeModel("{}").preparePermissions();
    model.reset();
    permissions->answerSpeech(Status::authorized);
    settle();
    EXPECT_EQ(permissions->requests.size(), 3u) << "the gone model's setup went on";
}

// --- Listening and modes -----------------------------------------------------------------

// While the AirPods switch for a call, further calls, mode requests and setup runs are dropped.
TEST_F(AppModelTest, RequestsWhileACommandRunsAreDropped) {
    auto& created = listeningModel();
    airPods->hold();
    detect();
    ASSERT_TRUE(eventually([&] { return created.isCommandRunning(); }));
    detect();
    created.setAirPodsMode(ListeningMode::normal);
    created.preparePermissions();
    pressShortcut();
    settle();
    airPods->release();
    ASSERT_TRUE(eventually([&] { return !created.isCommandRunning(); }));
    settle();
    EXPECT_EQ(calls, QStringList{"James"});
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"transparency"});
    EXPECT_TRUE(created.isDetectionEnabled());
}

// AirPods that are away leave listening on for a later call; any other helper failure ends it.
TEST_F(AppModelTest, HelperFailuresAfterACall) {
    for (const auto& [error, stillListening] : std::vector<std::pair<AppError, bool>>{
             {AppError::airPodsNotConnected(), true}, {AppError::helperTimedOut(), false}}) {
        SCOPED_TRACE(error.errorDescription());
        auto& created = listeningModel();
        airPods->willAnswer(error);
        detect();
        ASSERT_TRUE(eventually([&] { return created.errorMessage().has_value(); }));
        EXPECT_EQ(created.errorMessage(), describe(error));
        EXPECT_FALSE(created.isCommandRunning());
        EXPECT_EQ(created.isDetectionEnabled(), stillListening);
        EXPECT_TRUE(calls.isEmpty());
    }
}

// Noise cancellation goes to transparency, anything else to noise cancellation.
TEST_F(AppModelTest, TheShortcutTogglesBetweenNoiseCancellationAndTransparency) {
    auto& created = makeModel(R"({"permissionSetupComplete": true, "selectedMode": "normal"})");
    for (const size_t presses : {1u, 2u}) {
        pressShortcut();
        ASSERT_TRUE(eventually([&] { return airPods->commands().size() == presses && !created.isCommandRunning(); }));
    }
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"anc", "transparency"}));
}

// The picker and the shortcut start from the AirPods' own mode, read at launch and on each opening
// of the panel, not from the one last saved: with "Off" saved and the AirPods in noise
// cancellation, the first press goes to transparency.
TEST_F(AppModelTest, TheModeIsReadFromTheAirPodsAtLaunchAndOnEachOpeningOfThePanel) {
    const auto readsSettled = [&](size_t commands) {
        return eventually([&] { return airPods->commands().size() == commands && !model->isCommandRunning(); });
    };
    auto& beforeSetup = makeModel(R"({"selectedMode": "normal"})");
    beforeSetup.applicationDidLaunch();
    beforeSetup.panelDidOpen();
    settle();
    EXPECT_TRUE(airPods->commands().empty()) << "read before permission setup";

    auto& created = makeModel(R"({"permissionSetupComplete": true, "selectedMode": "normal"})");
    created.applicationDidLaunch();
    ASSERT_TRUE(readsSettled(1));
    EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::anc));
    pressShortcut();
    ASSERT_TRUE(readsSettled(2));
    EXPECT_EQ(airPods->commands().back(), "transparency");

    // Switched on the AirPods themselves while the panel was closed.
    airPods->willAnswer(ListeningMode::normal);
    created.panelDidOpen();
    ASSERT_TRUE(readsSettled(3));
    EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::normal));
    EXPECT_EQ(storedSettings()["selectedMode"], "normal");

    // One helper command at a time: an opening while a switch runs reads nothing.
    airPods->hold();
    created.setAirPodsMode(ListeningMode::anc);
    created.panelDidOpen();
    airPods->release();
    ASSERT_TRUE(readsSettled(4));
    settle();
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"current-mode", "transparency", "current-mode", "anc"}));
}

// A read the user did not ask for that fails leaves the banner, listening and the mode as they
// were; AirPods that are away say so, and a later read that finds them takes that back. A call
// heard during a read switches the AirPods once it is over.
TEST_F(AppModelTest, AutomaticReadsAreQuiet) {
    const QString notConnected = describe(AppError::airPodsNotConnected());
    const std::vector<std::pair<AppError, bool>> cases{
        {AppError::helperTimedOut(), false},
        {AppError::helperFailed("EXIT_CODE=1"), false},
        {AppError::airPodsNotConnected(), true},
    };
    for (const auto& [error, saysNotConnected] : cases) {
        SCOPED_TRACE(error.errorDescription());
        auto& created = listeningModel();
        created.setAirPodsMode(ListeningMode::transparency);
        ASSERT_TRUE(eventually([&] { return !created.isCommandRunning(); }));
        // A banner of its own: a key pressed without a modifier while recording the shortcut.
        created.startShortcutRecording();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 0, 'a', 0);
        QObject field;
        QCoreApplication::sendEvent(&field, &key);
        const auto banner = created.errorMessage();
        ASSERT_TRUE(banner);

        airPods->willAnswer(error);
        created.panelDidOpen();
        ASSERT_TRUE(eventually([&] { return !created.isCommandRunning(); }));
        EXPECT_EQ(created.errorMessage(), saysNotConnected ? notConnected : *banner);
        EXPECT_TRUE(created.isDetectionEnabled());
        EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::transparency));
    }

    model->panelDidOpen();
    ASSERT_TRUE(eventually([&] { return !model->isCommandRunning(); }));
    EXPECT_FALSE(model->errorMessage()) << "the AirPods are back";

    airPods->hold();
    model->panelDidOpen();
    detect();
    settle();
    EXPECT_TRUE(calls.isEmpty());
    airPods->release();
    ASSERT_TRUE(eventually([&] { return calls == QStringList{"James"}; }));
    EXPECT_EQ(airPods->commands().back(), "transparency");
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
                created.setWakePhraseDraft(draft);
                created.addWakePhraseFromDraft();
            }
            EXPECT_EQ(created.errorMessage(), locale == "en-US" ? english : korean);
            EXPECT_FALSE(created.isDetectionEnabled());
            EXPECT_EQ(static_cast<size_t>(detectors->stops), detectors->startedWith.size()) << "a detector still runs";
        }
    }
}

TEST_F(AppModelTest, ListeningStartsOnceAndIgnoresWhatAStoppedSessionStillSends) {
    auto& listening = listeningModel();
    listening.setDetectionEnabled(true); // already on: no second detector
    EXPECT_EQ(detectors->startedWith.size(), 1u);
    const auto firstSessionError = detectors->onError;
    // A call on its way when listening is turned off must not switch the AirPods.
    detect();
    listening.setDetectionEnabled(false);
    EXPECT_EQ(detectors->stops, 1);
    std::thread(firstSessionError, Error::platform("Recognition was cancelled.")).join();
    settle();
    EXPECT_FALSE(listening.errorMessage());
    EXPECT_FALSE(listening.isCommandRunning());
    EXPECT_TRUE(airPods->commands().empty());

    // Nor may the old session's late error end the next one; its own error does.
    listening.setDetectionEnabled(true);
    std::thread(firstSessionError, Error::platform("Recognition was cancelled.")).join();
    std::thread(detectors->onError, Error::platform("The microphone went away.")).join();
    ASSERT_TRUE(eventually([&] { return listening.errorMessage().has_value(); }));
    EXPECT_EQ(listening.errorMessage(), "The microphone went away.");
    EXPECT_FALSE(listening.isDetectionEnabled());
}

TEST_F(AppModelTest, EditingPhrasesRestartsListeningWithTheNewList) {
    auto& created = listeningModel();
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

// A draft is split at commas (ASCII, ideographic, full-width); each piece is added unless it is
// a listed phrase, has no letter or number, is too long, or the list is full. A refusal is a
// hint under the field: the draft stays when nothing was added, and listening goes on.
TEST_F(AppModelTest, AddingSplitsTheDraftAtCommasAndExplainsWhatItRefuses) {
    struct Case {
        QString draft;
        QStringList phrasesAfter;
        QString english;
        QString korean;
    };
    const QString longest(AppModel::maximumWakePhraseLength, QChar('a'));
    QString graphemes; // 100 characters of two code points each
    for (int count = 0; count < AppModel::maximumWakePhraseLength; ++count) {
        graphemes += QStringLiteral("e\u0301");
    }
    const std::vector<Case> cases{
        {"Dr. Kim, Ann", {"Olivia", "Dr. Kim", "Ann"}, {}, {}},
        {"민수、지영，팀장님,", {"Olivia", "민수", "지영", "팀장님"}, {}, {}},
        {"ann , Ann, ANN", {"Olivia", "ann"}, {}, {}},
        {longest + ", " + graphemes, {"Olivia", longest, graphemes}, {}, {}},
        {"  olivia  ", {"Olivia"}, "“Olivia” is already in the list.", "“Olivia”은(는) 이미 목록에 있습니다."},
        {"!!!",
         {"Olivia"},
         "A call phrase needs at least one letter or number.",
         "호출 문구에는 글자나 숫자가 하나 이상 있어야 합니다."},
        {" , ，",
         {"Olivia"},
         "A call phrase needs at least one letter or number.",
         "호출 문구에는 글자나 숫자가 하나 이상 있어야 합니다."},
        {"Ann, " + longest + "a",
         {"Olivia", "Ann"},
         "A call phrase can be at most 100 characters long.",
         "호출 문구는 100자 이하여야 합니다."},
        {"Ann, OLIVIA, ?",
         {"Olivia", "Ann"},
         "“Olivia” is already in the list.",
         "“Olivia”은(는) 이미 목록에 있습니다."},
    };
    for (const std::string locale : {"en-US", "ko-KR"}) {
        useLocale(locale);
        for (const auto& [draft, phrasesAfter, english, korean] : cases) {
            SCOPED_TRACE(draft.toStdString() + " " + locale);
            auto& created = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["Olivia"]})");
            created.setDetectionEnabled(true);
            created.setWakePhraseDraft(draft);
            EXPECT_TRUE(created.canAddWakePhrase());
            created.addWakePhraseFromDraft();
            EXPECT_EQ(created.activeWakePhrases(), phrasesAfter);
            EXPECT_EQ(created.wakePhraseHint(), locale == "en-US" ? english : korean);
            EXPECT_EQ(created.wakePhraseDraft(), phrasesAfter.size() > 1 ? QString() : draft);
            EXPECT_TRUE(created.isDetectionEnabled());
            EXPECT_FALSE(created.errorMessage());
        }
    }
    model->setWakePhraseDraft("Ann");
    EXPECT_EQ(model->wakePhraseHint(), "") << "a new draft clears the hint";
}

// The list takes 50 phrases; stored settings with more are kept as they are, and listening then
// uses the first 50 within the limits and says so.
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

    // One place left: the first piece takes it.
    phrases = QJsonArray();
    for (int index = 1; index < AppModel::maximumWakePhraseCount; ++index) {
        phrases.append(QString("Name %1").arg(index));
    }
    stored["wakePhrases"] = phrases;
    auto& nearlyFull = makeModel(QJsonDocument(stored).toJson());
    nearlyFull.setWakePhraseDraft("Ann, Kim");
    nearlyFull.addWakePhraseFromDraft();
    EXPECT_EQ(nearlyFull.activeWakePhrases().size(), AppModel::maximumWakePhraseCount);
    EXPECT_EQ(nearlyFull.activeWakePhrases().back(), "Ann");
    EXPECT_EQ(nearlyFull.wakePhraseHint(), "You can add up to 50 call phrases.");

    // Only a phrase over the length limit: nothing to listen for.
    auto& tooLong =
        makeModel(R"({"permissionSetupComplete": true, "wakePhrases": [")" + QByteArray(101, 'c') + R"("]})");
    tooLong.setDetectionEnabled(true);
    EXPECT_FALSE(tooLong.isDetectionEnabled());
    EXPECT_EQ(tooLong.errorMessage(), "A call phrase can be at most 100 characters long.");
}

// --- Shortcut ----------------------------------------------------------------------------

// The stored shortcut is registered at launch; one the desktop refuses then stays shown without
// a message. Recording: a combination the desktop refuses, a key without a modifier, a
// combination, then clearing.
TEST_F(AppModelTest, TheShortcutFromLaunchThroughRecordingToClearing) {
    const QByteArray controlOptionK = R"({"hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})";
    EXPECT_FALSE(makeModel(R"({"hotKeyKeyCode": 40, "hotKeyDisplayKey": "K"})").hotKeySetting());
    hotKeys->nextStatus = -10;
    EXPECT_EQ(makeModel(controlOptionK).hotKeyDisplayName(), "Ctrl+Alt+K");
    EXPECT_FALSE(model->errorMessage());
    hotKeys->nextStatus = 0;
    auto& created = makeModel(controlOptionK);
    EXPECT_EQ(hotKeys->registered, created.hotKeySetting());

    // Sends a press through the application; true when the recording consumed it, so that no
    // text field, button or application shortcut saw it.
    QObject field;
    const auto send = [&field](int qtKey, Qt::KeyboardModifiers modifiers, std::uint32_t keysym) {
        QKeyEvent event(QEvent::KeyPress, qtKey, modifiers, 0, keysym, 0);
        return QCoreApplication::sendEvent(&field, &event);
    };
    hotKeys->nextStatus = -10;
    created.startShortcutRecording();
    send(Qt::Key_J, Qt::ControlModifier, 'j');
    EXPECT_FALSE(created.hotKeySetting());
    EXPECT_EQ(created.errorMessage(), QString::fromStdString(HotKeyError::registrationFailed(-10).errorDescription()));
    EXPECT_EQ(storedSettings()["hotKeyDisplayKey"], "K") << "the shortcut from before comes back at next launch";

    hotKeys->nextStatus = 0;
    created.startShortcutRecording();
    EXPECT_TRUE(send(Qt::Key_Escape, Qt::NoModifier, 0xff1b));
    EXPECT_FALSE(created.isRecordingShortcut()) << "Escape cancels recording";
    EXPECT_FALSE(created.hotKeySetting());
    created.startShortcutRecording();
    EXPECT_TRUE(send(Qt::Key_A, Qt::NoModifier, 'a'));
    EXPECT_EQ(created.errorMessage(), "Press a key together with Super, Ctrl, Alt or Shift.");
    send(Qt::Key_Up, Qt::ShiftModifier | Qt::MetaModifier, 0xff52);
    EXPECT_EQ(created.hotKeyDisplayName(), "Super+Shift+Up");
    EXPECT_EQ(hotKeys->registered, created.hotKeySetting());
    EXPECT_FALSE(created.errorMessage());
    EXPECT_EQ(storedSettings(), json(R"({"hotKeyKeyCode": 126, "hotKeyModifiers": 768, "hotKeyDisplayKey": "↑"})"));
    EXPECT_FALSE(send(Qt::Key_A, Qt::NoModifier, 'a')) << "recording is over: keys reach the application again";

    created.startShortcutRecording();
    created.clearShortcut(); // while recording: recording ends too
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_FALSE(hotKeys->registered);
    EXPECT_EQ(storedSettings(), QJsonObject());
}

} // namespace
} // namespace harkwell
