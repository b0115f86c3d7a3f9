#include "model/AppModel.h"
#include "EventLoop.h"
#include "LogCapture.h"
#include "ModelFakes.h"
#include "locale/AppMetadata.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <stdexcept>
#include <thread>

namespace harkwell {
namespace {

using namespace harkwell::testing;
using Status = AuthorizationStatus;

using namespace std::chrono_literals;

QJsonObject json(const QByteArray& text) { return QJsonDocument::fromJson(text).object(); }
QString describe(const AppError& error) { return QString::fromStdString(error.errorDescription()); }
void useLocale(const std::string& locale) {
    setAppMetadataLookupForTesting([locale](std::string_view) { return std::optional<std::string>(locale); });
}

// Sends a press through the application; true when shortcut recording consumed it.
bool sendKey(int qtKey, Qt::KeyboardModifiers modifiers, std::uint32_t keysym) {
    QObject field;
    QKeyEvent event(QEvent::KeyPress, qtKey, modifiers, 0, keysym, 0);
    return QCoreApplication::sendEvent(&field, &event);
}

class AppModelTest : public ::testing::Test, protected FakeModelParts {
protected:
    AppModelTest() { useLocale("en-US"); }
    ~AppModelTest() override {
        audioInputs->release();
        detectors->teardown->release();
        model.reset();
        airPods->release();
        setAppMetadataLookupForTesting(nullptr);
    }

    // A model over a new settings file each time (QSettings caches what it parsed of a file); the old
    // model goes first, as it unhooks the fake hot-key backend.
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
    // A model whose permission setup is complete, listening for "James"; more settings start with ", ".
    AppModel& listeningModel(const QByteArray& more = "") {
        auto& created = makeModel(R"({"permissionSetupComplete": true, "wakePhrases": ["James"])" + more + "}");
        created.setDetectionEnabled(true);
        return created;
    }

    // The recogniser hears the call, on its own thread.
    void detect() { std::thread(detectors->onDetected, "James").join(); }
    // A call heard while listening, once the AirPods have switched for it.
    void hearCall() {
        const auto heard = calls.size();
        detect();
        ASSERT_TRUE(eventually([&] { return calls.size() > heard && !model->isCommandRunning(); }));
    }
    // The detector hears someone speak near the microphone.
    void hearNearSpeech() {
        std::thread(detectors->onNearSpeech).join();
        settle();
    }
    // True once no helper command runs.
    bool idle() {
        return eventually([&] { return !model->isCommandRunning(); });
    }
    // Time passes; a command it sets going has finished when this returns.
    void wait(std::chrono::milliseconds time) {
        clock->advanceBy(time);
        ASSERT_TRUE(idle());
    }
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

// --- Permission setup --------------------------------------------------------------------

// Bluetooth is prepared (reading the mode) only after speech and microphone; absent AirPods don't block.
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
        ASSERT_TRUE(idle());
        EXPECT_EQ(storedSettings()["permissionSetupComplete"], !message);
        EXPECT_EQ(created.permissionStatusText(), message ? "Permissions required" : "Permissions ready");
        EXPECT_EQ(created.errorMessage(), message);
        EXPECT_EQ(airPods->commands().size(), speech == microphone ? 1u : 0u);
        const auto* answered = std::get_if<ListeningMode>(&bluetooth);
        EXPECT_EQ(created.selectedMode(), answered ? *answered : ListeningMode(ListeningMode::anc));
        EXPECT_TRUE(permissions->requests.empty());
    }
}

// Asked in turn with status texts; a second run is ignored, an answer after the model is gone is dropped.
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

// While the AirPods switch for a call, the user's mode requests and setup runs are dropped.
TEST_F(AppModelTest, RequestsWhileACommandRunsAreDropped) {
    auto& created = listeningModel();
    airPods->hold();
    detect();
    ASSERT_TRUE(eventually([&] { return created.isCommandRunning(); }));
    created.setAirPodsMode(ListeningMode::normal);
    created.preparePermissions();
    pressShortcut();
    settle();
    airPods->release();
    ASSERT_TRUE(idle());
    settle();
    EXPECT_EQ(calls, QStringList{"James"});
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"transparency"});
    EXPECT_TRUE(created.isDetectionEnabled());
}

// A call heard while a command runs switches the AirPods once the command has finished, whether
// it is the return after an earlier call, the user's own switch or a read of the mode; a return
// that was pending then waits for quiet after the new call. The AirPods go back after that quiet,
// to the mode from before the calls.
TEST_F(AppModelTest, ACallDuringACommandSwitchesOnceItHasFinished) {
    const std::vector<std::tuple<const char*, std::function<void(AppModel&)>, std::vector<std::string>, ListeningMode>>
        cases{
            {"the return after a call",
             [this](AppModel&) {
                 hearCall();
                 airPods->willAnswer(ListeningMode::transparency); // what the return reads first
                 airPods->hold();
                 clock->advanceBy(30s);
             },
             {"transparency", "current-mode", "anc", "transparency"},
             ListeningMode::anc},
            {"the user's switch",
             [this](AppModel& m) {
                 airPods->hold();
                 m.setAirPodsMode(ListeningMode::normal);
             },
             {"normal", "transparency"},
             ListeningMode::normal},
            {"a read of the mode",
             [this](AppModel& m) {
                 airPods->hold();
                 m.panelDidOpen();
             },
             {"current-mode", "transparency"},
             ListeningMode::anc},
            {"a read while a return is pending",
             [this](AppModel& m) {
                 hearCall();
                 clock->advanceBy(20s);
                 airPods->willAnswer(ListeningMode::transparency);
                 airPods->hold();
                 m.panelDidOpen();
                 clock->advanceBy(20s); // the return's time passes during the read
             },
             {"transparency", "current-mode", "transparency"},
             ListeningMode::anc},
        };
    for (const auto& [name, startCommand, commands, modeBefore] : cases) {
        SCOPED_TRACE(name);
        airPods = std::make_shared<FakeAirPods>();
        calls.clear();
        auto& listening = listeningModel();
        startCommand(listening);
        ASSERT_TRUE(eventually([&] { return listening.isCommandRunning(); }));
        const auto callsBefore = calls.size();
        detect();
        settle();
        EXPECT_EQ(calls.size(), callsBefore) << "switched during the command";
        airPods->release();
        ASSERT_TRUE(eventually([&] { return calls.size() > callsBefore && !listening.isCommandRunning(); }));
        EXPECT_EQ(airPods->commands(), commands);
        EXPECT_EQ(listening.selectedMode(), ListeningMode(ListeningMode::transparency));
        EXPECT_TRUE(listening.isInTransparencyAfterCall());
        EXPECT_EQ(listening.secondsUntilReturn(), 30) << "the wait starts again from the held call";

        airPods->willAnswer(ListeningMode::transparency);
        wait(30s);
        EXPECT_EQ(listening.selectedMode(), modeBefore);
    }
}

// Quitting ends a helper command under way instead of waiting for it.
TEST_F(AppModelTest, QuittingEndsTheHelperCommandUnderWay) {
    auto& created = makeModel(R"({"permissionSetupComplete": true})");
    airPods->hold();
    created.setAirPodsMode(ListeningMode::normal);
    ASSERT_TRUE(eventually([&] { return !airPods->commands().empty(); }));
    model.reset();
    EXPECT_EQ(airPods->shutDowns(), 1);
    EXPECT_FALSE(airPods->hasGivenUp()) << "quitting waited for the command";
}

// The toggle of the shortcut and of `harkwell --toggle-mode` tells how it ended: no failure once
// the AirPods have switched, else why they were not, as the banner says it.
TEST_F(AppModelTest, TheToggleSaysWhyTheAirPodsWereNotSwitched) {
    const AppError noAdapter = AppError::helperFailed("No Bluetooth adapter");
    const std::vector<std::tuple<const char*, QByteArray, std::function<void(AppModel&)>, std::optional<QString>>>
        cases{
            {"switched", R"({"permissionSetupComplete": true})", [](AppModel&) {}, std::nullopt},
            {"setup not complete", "{}", [](AppModel&) {}, "Complete permission setup first."},
            {"AirPods not connected", R"({"permissionSetupComplete": true})",
             [this](AppModel&) { airPods->willAnswer(AppError::airPodsNotConnected()); },
             describe(AppError::airPodsNotConnected())},
            {"the helper failed", R"({"permissionSetupComplete": true})",
             [&](AppModel&) { airPods->willAnswer(noAdapter); }, describe(noAdapter)},
            {"a command running", R"({"permissionSetupComplete": true})",
             [this](AppModel& m) {
                 airPods->hold();
                 m.panelDidOpen();
             },
             "Another AirPods command is running."},
        };
    for (const auto& [name, stored, arrange, failure] : cases) {
        SCOPED_TRACE(name);
        auto& created = makeModel(stored);
        arrange(created);
        std::optional<std::optional<QString>> outcome;
        created.toggleAirPodsModeFromShortcut([&](const std::optional<QString>& reason) { outcome = reason; });
        ASSERT_TRUE(eventually([&] { return outcome.has_value(); }));
        EXPECT_EQ(*outcome, failure);
        airPods->release();
        ASSERT_TRUE(idle());
    }
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

// The mode is read from the AirPods at launch and each panel opening, never before setup, one command at a time.
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

// A failed automatic read keeps banner, listening and mode (away AirPods say so); a call waits for the read.
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
        ASSERT_TRUE(idle());
        // A banner of its own: a key pressed without a modifier while recording the shortcut.
        created.startShortcutRecording();
        sendKey(Qt::Key_A, Qt::NoModifier, 'a');
        const auto banner = created.errorMessage();
        ASSERT_TRUE(banner);

        airPods->willAnswer(error);
        created.panelDidOpen();
        ASSERT_TRUE(idle());
        EXPECT_EQ(created.errorMessage(), saysNotConnected ? notConnected : *banner);
        EXPECT_TRUE(created.isDetectionEnabled());
        EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::transparency));
    }

    model->panelDidOpen();
    ASSERT_TRUE(idle());
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

TEST_F(AppModelTest, WhatAStoppedSessionStillSendsIsIgnored) {
    auto& listening = listeningModel();
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

// --- Listening after the sound went away ---------------------------------------------------

const Error soundStopped = AppError::microphoneStopped("Built-in Audio");
const Error soundUnreachable = AppError::soundServerUnreachable("Connection refused");

class AppModelResumeTest : public AppModelTest {
protected:
    // The listening model's session reports an error, from the recogniser's thread.
    void report(const Error& error) {
        const int stops = detectors->stops;
        std::thread(detectors->onError, error).join();
        ASSERT_TRUE(eventually([&] { return detectors->stops > stops; }));
    }
    // Moves the clock on; the model looks at it on each tick on the way.
    void pass(Clock::duration time) {
        clock->advanceBy(time);
        settle();
    }
    std::size_t tries() const { return detectors->startedWith.size() - 1; }
};

// Retries after 1, 2, 4, 8, 16, then every 30 s, quietly; audio turns the switch back on and says so.
TEST_F(AppModelResumeTest, ListeningLostWithTheSoundIsTriedAgainWithBackoffUntilAudioComes) {
    // The locale, the delays before each try, and the message once audio has come.
    const std::vector<std::tuple<const char*, std::vector<std::chrono::seconds>, QString>> cases{
        {"en-US", {1s, 2s, 4s, 8s, 16s, 30s, 30s}, "Listening resumed: the sound server is back."},
        {"ko-KR", {1s}, "사운드 서버가 돌아와 다시 듣고 있습니다."},
    };
    for (const auto& [locale, delays, resumed] : cases) {
        SCOPED_TRACE(locale);
        useLocale(locale);
        model.reset();
        detectors->startedWith.clear();
        auto& listening = listeningModel();
        report(soundStopped);
        EXPECT_EQ(listening.errorMessage(), QString::fromStdString(soundStopped.description()));
        EXPECT_FALSE(listening.isDetectionEnabled());
        EXPECT_TRUE(listening.isWaitingToResume());

        for (std::size_t attempt = 0; attempt < delays.size(); ++attempt) {
            SCOPED_TRACE(attempt);
            if (attempt == 0 || delays[attempt] != delays[attempt - 1] * 2) {
                pass(delays[attempt] - 1ms);
                EXPECT_EQ(tries(), attempt) << "tried too early";
                pass(1ms);
            } else {
                pass(delays[attempt]);
            }
            ASSERT_EQ(tries(), attempt + 1);
            EXPECT_EQ(detectors->startedWith.back(), std::vector<std::string>{"James"});
            if (attempt + 1 == delays.size()) {
                break; // this one hears audio
            }
            report(attempt % 2 ? soundStopped : soundUnreachable);
            EXPECT_EQ(listening.errorMessage(), QString::fromStdString(soundStopped.description()));
            EXPECT_FALSE(listening.isDetectionEnabled());
        }

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
    // Errors that are not the sound going away are not tried again.
    auto& listening = listeningModel();
    report(Error::platform("Recognition was cancelled."));
    EXPECT_FALSE(listening.isWaitingToResume());
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

// The call's Transparency lasts until the mode changes or listening ends, not past a late switch.
TEST_F(AppModelTest, TransparencyAfterACallLastsUntilTheModeChangesOrListeningEnds) {
    auto& created = listeningModel();
    const auto afterCall = [&] {
        detect();
        return eventually([&] { return created.isInTransparencyAfterCall() && !created.isCommandRunning(); });
    };
    ASSERT_TRUE(afterCall());
    created.setAirPodsMode(ListeningMode::transparency);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(created.isInTransparencyAfterCall()) << "still Transparency";
    created.setWakePhraseDraft("Ann");
    created.addWakePhraseFromDraft();
    EXPECT_TRUE(created.isInTransparencyAfterCall()) << "listening went on";
    created.setAirPodsMode(ListeningMode::anc);
    ASSERT_TRUE(eventually([&] { return !created.isInTransparencyAfterCall() && !created.isCommandRunning(); }));

    ASSERT_TRUE(afterCall());
    created.setDetectionEnabled(false);
    EXPECT_FALSE(created.isInTransparencyAfterCall());

    created.setDetectionEnabled(true);
    ASSERT_TRUE(afterCall());
    created.removeWakePhrase("James");
    EXPECT_TRUE(created.isInTransparencyAfterCall()) << "Ann is still listened for";
    created.removeWakePhrase("Ann");
    EXPECT_FALSE(created.isInTransparencyAfterCall()) << "no phrase left: listening ended";

    created.setWakePhraseDraft("James");
    created.addWakePhraseFromDraft();
    created.setDetectionEnabled(true);
    airPods->hold();
    detect();
    ASSERT_TRUE(eventually([&] { return created.isCommandRunning(); }));
    created.setDetectionEnabled(false);
    airPods->release();
    ASSERT_TRUE(eventually([&] { return calls.size() == 4; }));
    EXPECT_FALSE(created.isInTransparencyAfterCall());
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

// Listening switched off, or started again at another sensitivity, leaves the old detector to end
// on another thread: a recogniser that is still setting up holds up neither the switch nor the panel.
TEST_F(AppModelTest, EndedSessionsEndTheirThreadsOffTheMainThread) {
    auto& listening = listeningModel();
    detectors->teardown->hold();
    listening.setDetectionSensitivity(DetectionSensitivity::high);
    listening.setDetectionEnabled(false);
    EXPECT_EQ(detectors->stops, 2);
    EXPECT_EQ(detectors->madeAt,
              (std::vector<DetectionSensitivity>{DetectionSensitivity::medium, DetectionSensitivity::high}));
    EXPECT_FALSE(listening.isDetectionEnabled());
    EXPECT_FALSE(detectors->teardown->hasGivenUp()) << "the main thread waited for a detector to end";
    detectors->teardown->release();
    EXPECT_TRUE(eventually([&] { return detectors->teardown->passes() == 2; }));
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

// After a call and the chosen quiet time, the AirPods go back to the earlier mode; the panel counts down.
TEST_F(AppModelTest, AfterACallAndQuietTheAirPodsGoBack) {
    // The stored mode and wait.
    const std::vector<std::tuple<QByteArray, ListeningMode, int>> cases{
        {R"(, "selectedMode": "normal", "returnAfterQuietSeconds": 10)", ListeningMode::normal, 10},
    };
    for (const auto& [stored, before, seconds] : cases) {
        SCOPED_TRACE(stored.toStdString());
        airPods = std::make_shared<FakeAirPods>();
        auto& created = listeningModel(stored);
        EXPECT_FALSE(created.secondsUntilReturn());
        hearCall();
        EXPECT_EQ(created.secondsUntilReturn(), seconds);
        wait(std::chrono::seconds(seconds) - 1500ms);
        EXPECT_EQ(created.secondsUntilReturn(), 2);
        airPods->willAnswer(ListeningMode::transparency);
        wait(1s);
        EXPECT_EQ(created.secondsUntilReturn(), 1);
        EXPECT_EQ(airPods->commands(), std::vector<std::string>{"transparency"});
        wait(500ms);
        EXPECT_EQ(airPods->commands(),
                  (std::vector<std::string>{"transparency", "current-mode", std::string(before.rawValue())}));
        EXPECT_EQ(created.selectedMode(), before);
        EXPECT_EQ(storedSettings()["selectedMode"], QString::fromUtf8(before.rawValue()));
        EXPECT_FALSE(created.secondsUntilReturn());
        EXPECT_TRUE(created.isDetectionEnabled());
        EXPECT_FALSE(created.errorMessage());
        wait(120s);
        EXPECT_EQ(airPods->commands().size(), 3u) << "a second return";
    }
}

// Near speech puts the return off; a second call keeps the mode from before the first.
TEST_F(AppModelTest, TalkKeepsTransparency) {
    auto& created = listeningModel();
    hearCall();
    wait(25s);
    hearNearSpeech();
    EXPECT_EQ(created.secondsUntilReturn(), 30);
    wait(25s);
    hearCall();
    wait(25s);
    hearNearSpeech();
    wait(25s);
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"transparency", "transparency"}));
    EXPECT_EQ(created.secondsUntilReturn(), 5);
    airPods->willAnswer(ListeningMode::transparency);
    wait(5s);
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"transparency", "transparency", "current-mode", "anc"}));
}

// Each of these ends a pending return for good.
TEST_F(AppModelTest, WhatEndsAPendingReturn) {
    const auto answering = [this](FakeAirPods::Outcome outcome, std::function<void()> then) {
        return [this, outcome, then] {
            airPods->willAnswer(outcome);
            then();
        };
    };
    const std::vector<std::pair<const char*, std::function<void()>>> cases{
        {"the panel's picker", [&] { model->setAirPodsMode(ListeningMode::anc); }},
        {"the picker choosing Transparency", [&] { model->setAirPodsMode(ListeningMode::transparency); }},
        {"the shortcut", [&] { pressShortcut(); }},
        {"harkwell --toggle-mode", [&] { model->toggleAirPodsModeFromShortcut(); }},
        {"listening turned off", [&] { model->setDetectionEnabled(false); }},
        {"the recogniser failing", [&] { std::thread(detectors->onError, Error::platform("Mic gone.")).join(); }},
        {"the return turned off", [&] { model->setReturnAfterQuietSeconds(0); }},
        {"the last phrase removed", [&] { model->removeWakePhrase("James"); }},
        {"AirPods away at a read", answering(AppError::airPodsNotConnected(), [&] { model->panelDidOpen(); })},
        {"noise cancellation seen at a read", answering(ListeningMode::anc, [&] { model->panelDidOpen(); })},
        {"AirPods away at the next call", answering(AppError::airPodsNotConnected(), [&] { detect(); })},
    };
    for (const auto& [name, action] : cases) {
        SCOPED_TRACE(name);
        airPods = std::make_shared<FakeAirPods>();
        auto& created = listeningModel();
        hearCall();
        wait(10s);
        action();
        settle();
        ASSERT_TRUE(idle());
        EXPECT_FALSE(created.secondsUntilReturn());
        const auto commands = airPods->commands();
        airPods->willAnswer(ListeningMode::transparency);
        wait(120s);
        EXPECT_EQ(airPods->commands(), commands);
    }
}

// No return without a call that itself switched the AirPods to Transparency.
TEST_F(AppModelTest, NoReturnWithoutACallThatSwitchedToTransparency) {
    const std::vector<std::pair<QByteArray, bool>> cases{
        {R"(, "selectedMode": "transparency")", true},
        {R"(, "selectedMode": "anc", "returnAfterQuietSeconds": 0)", true},
        {R"(, "selectedMode": "anc")", false},
    };
    for (const auto& [stored, byCall] : cases) {
        SCOPED_TRACE(stored.toStdString());
        airPods = std::make_shared<FakeAirPods>();
        auto& created = listeningModel(stored);
        if (byCall) {
            hearCall();
        } else {
            created.setAirPodsMode(ListeningMode::transparency);
            ASSERT_TRUE(idle());
        }
        EXPECT_FALSE(created.secondsUntilReturn());
        wait(120s);
        EXPECT_EQ(airPods->commands(), std::vector<std::string>{"transparency"});
    }
}

// The return reads the AirPods first and leaves a changed mode alone; its failures report as any switch.
TEST_F(AppModelTest, TheReturnLeavesAChangedModeAloneAndReportsFailuresAsAnySwitch) {
    auto& created = listeningModel();
    hearCall();
    airPods->willAnswer(ListeningMode::normal);
    wait(30s);
    EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"transparency", "current-mode"}));
    EXPECT_EQ(created.selectedMode(), ListeningMode(ListeningMode::normal));

    // What the return's switch fails with, and whether listening goes on, as after a call.
    for (const auto& [error, stillListening] : std::vector<std::pair<AppError, bool>>{
             {AppError::airPodsNotConnected(), true}, {AppError::helperTimedOut(), false}}) {
        SCOPED_TRACE(error.errorDescription());
        airPods = std::make_shared<FakeAirPods>();
        auto& failing = listeningModel();
        hearCall();
        airPods->willAnswer(ListeningMode::transparency);
        airPods->willAnswer(error);
        wait(30s);
        EXPECT_EQ(airPods->commands(), (std::vector<std::string>{"transparency", "current-mode", "anc"}));
        EXPECT_EQ(failing.errorMessage(), describe(error));
        EXPECT_EQ(failing.isDetectionEnabled(), stillListening);
        EXPECT_EQ(failing.selectedMode(), ListeningMode(ListeningMode::transparency));
        EXPECT_FALSE(failing.secondsUntilReturn());
    }
}

// --- Shortcut ---------------------------------------------------------------------------

QString refusalText(std::int32_t status) {
    return QString::fromStdString(HotKeyError::registrationFailed(status).errorDescription());
}

const QByteArray storedControlOptionK = R"({"hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})";

// Registration at launch (a refusal keeps it shown and stored), then recording and clearing.
TEST_F(AppModelTest, TheShortcutFromLaunchThroughRecordingToClearing) {
    EXPECT_FALSE(makeModel(R"({"hotKeyKeyCode": 40, "hotKeyDisplayKey": "K"})").hotKeySetting());
    hotKeys->nextStatus = -10;
    EXPECT_EQ(makeModel(storedControlOptionK).hotKeyDisplayName(), "Ctrl+Alt+K");
    EXPECT_EQ(model->errorMessage(), refusalText(-10));
    EXPECT_EQ(storedSettings(), json(storedControlOptionK));
    hotKeys->nextStatus = 0;
    auto& created = makeModel(storedControlOptionK);
    EXPECT_EQ(hotKeys->registered, created.hotKeySetting());
    EXPECT_FALSE(created.errorMessage());

    // A refused combination leaves the shortcut from before in effect: shown, stored, registered.
    hotKeys->nextStatus = -10;
    created.startShortcutRecording();
    sendKey(Qt::Key_J, Qt::ControlModifier, 'j');
    EXPECT_EQ(created.hotKeyDisplayName(), "Ctrl+Alt+K");
    EXPECT_EQ(created.errorMessage(), refusalText(-10));
    EXPECT_EQ(storedSettings(), json(storedControlOptionK));
    EXPECT_EQ(hotKeys->registered, created.hotKeySetting());

    hotKeys->nextStatus = 0;
    created.startShortcutRecording();
    EXPECT_TRUE(sendKey(Qt::Key_Escape, Qt::NoModifier, 0xff1b));
    EXPECT_FALSE(created.isRecordingShortcut()) << "Escape cancels recording";
    EXPECT_EQ(created.hotKeyDisplayName(), "Ctrl+Alt+K");
    created.startShortcutRecording();
    EXPECT_TRUE(sendKey(Qt::Key_A, Qt::NoModifier, 'a'));
    EXPECT_EQ(created.errorMessage(), "Press a key together with Super, Ctrl, Alt or Shift.");
    sendKey(Qt::Key_Up, Qt::ShiftModifier | Qt::MetaModifier, 0xff52);
    EXPECT_EQ(created.hotKeyDisplayName(), "Super+Shift+Up");
    EXPECT_EQ(hotKeys->registered, created.hotKeySetting());
    EXPECT_FALSE(created.errorMessage());
    EXPECT_EQ(storedSettings(), json(R"({"hotKeyKeyCode": 126, "hotKeyModifiers": 768, "hotKeyDisplayKey": "↑"})"));
    EXPECT_FALSE(sendKey(Qt::Key_A, Qt::NoModifier, 'a')) << "recording is over: keys reach the application again";

    created.startShortcutRecording();
    created.clearShortcut(); // while recording: recording ends too
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_FALSE(hotKeys->registered);
    EXPECT_EQ(storedSettings(), QJsonObject());
}

// Until a late desktop answer the old shortcut stays; a clearing in between drops the answer.
TEST_F(AppModelTest, TheDesktopsLateAnswerDecidesTheShortcut) {
    hotKeys->nextStatus = std::nullopt;
    auto& created = makeModel(storedControlOptionK);
    EXPECT_EQ(hotKeys->waiting, created.hotKeySetting());
    EXPECT_FALSE(created.errorMessage());
    hotKeys->backend->answer(HotKeyError::portalRefused);
    EXPECT_EQ(created.errorMessage(), refusalText(-2002));
    EXPECT_EQ(created.hotKeyDisplayName(), "Ctrl+Alt+K");

    created.startShortcutRecording();
    sendKey(Qt::Key_Up, Qt::ShiftModifier | Qt::MetaModifier, 0xff52);
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_FALSE(created.errorMessage());
    EXPECT_EQ(created.hotKeyDisplayName(), "Ctrl+Alt+K") << "shown before the desktop agreed";
    hotKeys->backend->answer(0);
    EXPECT_EQ(created.hotKeyDisplayName(), "Super+Shift+Up");
    EXPECT_EQ(storedSettings()["hotKeyDisplayKey"], "↑");

    created.startShortcutRecording();
    sendKey(Qt::Key_J, Qt::ControlModifier, 'j');
    created.clearShortcut();
    hotKeys->backend->answer(0);
    EXPECT_FALSE(created.hotKeySetting());
    EXPECT_FALSE(hotKeys->registered);
    EXPECT_EQ(storedSettings(), QJsonObject());
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
}

// With a chosen input, listening starts once the inputs have been read on the inputs thread: a
// sound server that does not answer holds up that session and not the main thread, and a session
// that ended meanwhile starts no detector when the answer comes.
TEST_F(AppModelTest, ListeningOnAChosenInputWaitsForTheInputsOffTheMainThread) {
    audioInputs->setDevices({headset, builtIn});
    audioInputs->hold();
    auto& listening = listeningModel(R"(, "microphoneSource": "alsa_input.usb-Blue_Yeti")");
    listening.setDetectionEnabled(true);
    listening.setWakePhraseDraft("Olivia");
    EXPECT_TRUE(listening.canAddWakePhrase());
    settle();
    EXPECT_FALSE(audioInputs->hasGivenUp()) << "a read waited on the main thread";
    EXPECT_TRUE(listening.isDetectionEnabled());
    EXPECT_TRUE(detectors->madeOn.empty());
    audioInputs->release();
    ASSERT_TRUE(eventually([&] { return !detectors->madeOn.empty(); }));
    EXPECT_EQ(detectors->madeOn, std::vector<std::string>{""}) << "one session, on the automatic choice";
    EXPECT_EQ(listening.fallbackMicrophone(), "Built-in Audio");

    audioInputs->hold();
    listening.setDetectionSensitivity(DetectionSensitivity::high);
    ASSERT_TRUE(eventually([&] { return audioInputs->reads() == 2; }));
    listening.setDetectionEnabled(false);
    audioInputs->release();
    // A refresh reads after the session's read, and its list comes after the session's answer.
    listening.refreshMicrophoneInputs();
    ASSERT_TRUE(eventually([&] { return !listening.microphoneInputs().isEmpty(); }));
    EXPECT_EQ(detectors->madeOn.size(), 1u) << "a session switched off meanwhile started";
    EXPECT_FALSE(listening.isDetectionEnabled());
    EXPECT_EQ(listening.fallbackMicrophone(), "");
}

// --- The accurate recogniser's model --------------------------------------------------------

// The notice says why listening goes on with the basic recogniser: nothing while the model loads,
// which starts with the model itself, and nothing without a loader; the reason of a failure goes
// to the model's log, not to the notice.
TEST_F(AppModelTest, TheRecognizerNoticeSaysWhyTheBasicRecogniserListensAlone) {
    using Load = std::function<std::shared_ptr<WhisperTranscriber>()>;
    const auto throwing = [](const char* reason) -> Load {
        return [reason]() -> std::shared_ptr<WhisperTranscriber> { throw std::runtime_error(reason); };
    };
    const std::pair<QString, QString> notInstalled{
        "Accurate recognition model not installed: listening with the basic recogniser.",
        "정확한 인식 모델이 설치되지 않았습니다. 기본 인식기로 듣고 있습니다."};
    const std::pair<QString, QString> notLoaded{
        "Accurate recognition model could not be loaded: listening with the basic recogniser.",
        "정확한 인식 모델을 불러오지 못했습니다. 기본 인식기로 듣고 있습니다."};
    QFile present(directory.filePath("ggml-model.bin"));
    ASSERT_TRUE(present.open(QIODevice::WriteOnly) && present.write("ggml") == 4);
    present.close();
    enum class File { none, missing, present };
    const struct {
        const char* what;
        File file;
        Load load; // none: no loader, the model stays loading
        std::pair<QString, QString> notice;
        QString reason; // in the log
    } cases[] = {
        {"no path", File::none, throwing("read"), notInstalled, {}},
        {"no file at the path", File::missing, throwing("read"), notInstalled, {}},
        {"a file the runtime refuses", File::present, throwing("not a ggml file"), notLoaded, "not a ggml file"},
        {"a loader that gives nothing", File::present, [] { return nullptr; }, notLoaded,
         "the model could not be read"},
        {"no loader", File::present, nullptr, {}, {}},
    };
    for (const char* locale : {"en-US", "ko-KR"}) {
        useLocale(locale);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(locale) + ": " + c.what);
            const LogCapture log("harkwell.*=false\nharkwell.model=true");
            // Loads wait for the test, so that their state can be seen.
            std::promise<void> release;
            std::shared_future<void> released = release.get_future().share();
            WhisperModel::Loader loader;
            if (c.load) {
                loader = [released, load = c.load](const std::string&) {
                    released.wait();
                    return load();
                };
            }
            const std::string path = c.file == File::none      ? std::string()
                                     : c.file == File::missing ? directory.filePath("absent.bin").toStdString()
                                                               : present.fileName().toStdString();
            const auto whisper = std::make_shared<WhisperModel>(path, loader);
            whisperModel = whisper;
            const auto& created = makeModel("{}");
            const QString expected = std::string_view(locale) == "en-US" ? c.notice.first : c.notice.second;

            EXPECT_EQ(created.recognizerNotice(), c.file == File::present ? QString() : expected) << "before loading";
            QSignalSpy noticeChanges(&created, &AppModel::recognizerNoticeChanged);
            release.set_value();
            if (c.file == File::present && c.load) {
                ASSERT_TRUE(eventually([&] { return whisper->state() != WhisperModelState::loading; }));
                EXPECT_EQ(noticeChanges.count(), 1);
            } else {
                settle();
                EXPECT_EQ(whisper->state(),
                          c.file == File::present ? WhisperModelState::loading : WhisperModelState::notInstalled);
            }
            EXPECT_EQ(created.recognizerNotice(), expected);
            if (!c.reason.isEmpty()) {
                EXPECT_FALSE(created.recognizerNotice().contains(c.reason));
                const QStringList lines = log.lines();
                EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const QString& line) {
                    return line.contains(c.reason);
                })) << lines.join('\n').toStdString();
            }
        }
    }
}

} // namespace
} // namespace harkwell
