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

namespace harkwell {
namespace {

using namespace harkwell::testing;
using Status = AuthorizationStatus;

QJsonObject json(const QByteArray& text) { return QJsonDocument::fromJson(text).object(); }

QKeyEvent keyPress(int qtKey, Qt::KeyboardModifiers modifiers, std::uint32_t keysym, const QString& text = {}) {
    return QKeyEvent(QEvent::KeyPress, qtKey, modifiers, 0, keysym, 0, text);
}

class AppModelTest : public ::testing::Test, protected FakeModelParts {
protected:
    AppModelTest() {
        setAppMetadataLookupForTesting([](std::string_view key) -> std::optional<std::string> {
            return key == "HarkwellLocale" ? std::optional<std::string>("en-US") : std::nullopt;
        });
    }
    ~AppModelTest() override {
        model.reset();
        airPods->release();
        setAppMetadataLookupForTesting(nullptr);
    }

    // Each stored settings file is a new file: QSettings keeps what it parsed of a file for the
    // life of the process and could take a rewrite of the same size in the same second for the
    // file it already knows.
    QString settingsPath() const { return directory.filePath(QString("Harkwell-%1.json").arg(generation)); }

    void storeSettings(const QByteArray& json) {
        ++generation;
        QFile file(settingsPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(json);
    }

    QJsonObject storedSettings() const {
        QFile file(settingsPath());
        return file.open(QIODevice::ReadOnly) ? json(file.readAll()) : QJsonObject();
    }

    // Replaces the model; the old one goes first, as it unhooks the fake hot-key backend.
    AppModel& makeModel() {
        model.reset();
        model = std::make_unique<AppModel>(dependencies(settingsPath()));
        model->onCallDetected = [this](const QString& phrase) { calls.append(phrase); };
        return *model;
    }

    // A model whose permission setup is complete, listening for the given phrases.
    AppModel& listeningModel(const QByteArray& phrases = R"(["James"])") {
        storeSettings(R"({"permissionSetupComplete": true, "wakePhrases": )" + phrases + "}");
        auto& created = makeModel();
        created.setDetectionEnabled(true);
        return created;
    }

    void detect(const std::string& phrase) {
        std::thread([callback = detectors->onDetected, phrase] { callback(phrase); }).join();
    }
    void pressShortcut() { hotKeys->backend->press({HotKeyController::signature, 1}); }

    QTemporaryDir directory;
    int generation = 0;
    std::unique_ptr<AppModel> model;
    QStringList calls;
};

// --- Construction ------------------------------------------------------------------------

TEST_F(AppModelTest, LoadsPhrasesMigratingTheLegacySinglePhrase) {
    // Stored settings, the phrases loaded, the settings afterwards.
    const std::vector<std::tuple<QByteArray, QStringList, QByteArray>> cases{
        {R"({"wakePhrase": "  James "})", {"James"}, R"({"wakePhrases": ["James"], "wakePhrase": "James"})"},
        {R"({"wakePhrases": [], "wakePhrase": "James"})", {}, R"({"wakePhrases": [], "wakePhrase": "James"})"},
        {R"({"wakePhrases": ["Minsu", " minsu ", "Dr. Kim"]})", {"Minsu", "Dr. Kim"}, {}},
        {R"({"wakePhrases": "Al", "wakePhrase": "Kim"})", {"Kim"}, R"({"wakePhrases": ["Kim"], "wakePhrase": "Kim"})"},
        {R"({"wakePhrase": "   "})", {}, R"({"wakePhrases": []})"},
        {"{}", {}, "{}"},
    };
    for (const auto& [stored, phrases, storedAfter] : cases) {
        SCOPED_TRACE(stored.toStdString());
        storeSettings(stored);
        const auto& created = makeModel();
        EXPECT_EQ(created.activeWakePhrases(), phrases);
        EXPECT_EQ(storedSettings(), json(storedAfter.isEmpty() ? stored : storedAfter));
        EXPECT_FALSE(created.isDetectionEnabled());
    }
}

TEST_F(AppModelTest, ReadsTheModeAndThePermissionFlagWithoutWritingThem) {
    using Mode = ListeningMode;
    // Stored settings, the microphone permission, the mode read, whether setup is complete.
    const std::vector<std::tuple<QByteArray, Status, Mode, bool>> cases{
        {R"({"selectedMode": "transparency", "permissionSetupComplete": true})", Status::authorized, Mode::transparency,
         true},
        {R"({"selectedMode": "Transparency", "permissionSetupComplete": true})", Status::denied, Mode::anc, false},
        {R"({"selectedMode": "", "permissionSetupComplete": "true"})", Status::authorized, Mode::anc, false},
        {R"({"selectedMode": 2})", Status::authorized, Mode::anc, false},
    };
    for (const auto& [stored, microphone, mode, setupComplete] : cases) {
        SCOPED_TRACE(stored.toStdString());
        storeSettings(stored);
        permissions->microphone = microphone;
        const auto& created = makeModel();
        EXPECT_EQ(created.selectedMode(), mode);
        EXPECT_EQ(created.isPermissionSetupComplete(), setupComplete);
        EXPECT_EQ(created.permissionStatusText(), setupComplete ? "Permissions ready" : "Permissions required");
        EXPECT_EQ(storedSettings(), json(stored)) << "construction wrote settings";
    }
}

TEST_F(AppModelTest, RegistersTheStoredShortcutAndKeepsItWhenRefused) {
    storeSettings(R"({"hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})");
    hotKeys->nextStatus = -10;
    EXPECT_EQ(makeModel().hotKeyDisplayName(), "⌃⌥K");
    EXPECT_FALSE(model->errorMessage());

    hotKeys->nextStatus = 0;
    storeSettings(R"({"hotKeyKeyCode": 40, "hotKeyDisplayKey": "K"})");
    EXPECT_FALSE(makeModel().hotKeySetting());
    EXPECT_TRUE(hotKeys->registered.empty());
}

// --- Permission setup --------------------------------------------------------------------

TEST_F(AppModelTest, PermissionSetupAsksSpeechThenMicrophoneThenBluetooth) {
    permissions->speech = Status::notDetermined;
    permissions->microphone = Status::notDetermined;
    airPods->willAnswer(ListeningMode::transparency);
    auto& created = makeModel();
    QStringList statusTexts;
    QObject::connect(&created, &AppModel::permissionStatusTextChanged,
                     [&] { statusTexts.append(created.permissionStatusText()); });

    created.preparePermissions();
    EXPECT_TRUE(created.isCommandRunning());
    EXPECT_EQ(permissions->requests, std::vector<std::string>{"speech"});
    permissions->answerSpeech(Status::authorized);
    ASSERT_TRUE(eventually([&] { return permissions->requests.size() == 2; }));
    permissions->answerMicrophone(true);
    ASSERT_TRUE(eventually([&] { return created.isPermissionSetupComplete(); }));

    EXPECT_EQ(statusTexts, (QStringList{"Checking Speech Recognition permission", "Checking microphone permission",
                                        "Checking Bluetooth permission", "Permissions ready"}));
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"request-permission"});
    EXPECT_FALSE(created.isCommandRunning());
    EXPECT_EQ(created.selectedMode(), ListeningMode::transparency);
    EXPECT_EQ(storedSettings()["selectedMode"], "transparency");
    EXPECT_EQ(storedSettings()["permissionSetupComplete"], true);
}

// Decided permissions are not asked again; AirPods that are not connected do not hold setup up.
TEST_F(AppModelTest, PermissionSetupEndsAtTheFirstRefusal) {
    // Speech and microphone permissions, what preparing Bluetooth throws, the message.
    const std::vector<std::tuple<Status, Status, std::optional<AppError>, std::optional<QString>>> cases{
        {Status::denied, Status::authorized, {}, "Speech Recognition permission is required."},
        {Status::authorized, Status::restricted, {}, "Microphone permission is required."},
        {Status::authorized, Status::authorized, AppError::airPodsNotConnected(), std::nullopt},
        {Status::authorized, Status::authorized, AppError::helperMissing("/x/ModeRelay"),
         "AirPods helper was not found at /x/ModeRelay."},
    };
    for (const auto& [speech, microphone, bluetooth, message] : cases) {
        SCOPED_TRACE(message.value_or("no message").toStdString());
        airPods = std::make_shared<FakeAirPods>();
        permissions->speech = speech;
        permissions->microphone = microphone;
        if (bluetooth) {
            airPods->willAnswer(*bluetooth);
        }
        storeSettings(R"({"permissionSetupComplete": true, "selectedMode": "normal"})");
        auto& created = makeModel();
        created.preparePermissions();
        ASSERT_TRUE(eventually([&] { return !created.isCommandRunning(); }));
        const bool complete = !message;
        EXPECT_EQ(created.isPermissionSetupComplete(), complete);
        EXPECT_EQ(storedSettings()["permissionSetupComplete"], complete);
        EXPECT_EQ(created.permissionStatusText(), complete ? "Permissions ready" : "Permissions required");
        EXPECT_EQ(created.errorMessage(), message);
        EXPECT_EQ(airPods->commands().size(), bluetooth ? 1u : 0u);
        EXPECT_TRUE(permissions->requests.empty());
        EXPECT_EQ(created.selectedMode(), ListeningMode::normal);
    }
}

TEST_F(AppModelTest, PermissionSetupIgnoresASecondRunAndAnswersAfterTheModelIsGone) {
    permissions->speech = Status::notDetermined;
    auto& created = makeModel();
    created.preparePermissions();
    created.preparePermissions();
    EXPECT_EQ(permissions->requests.size(), 1u);

    model.reset();
    permissions->answerSpeech(Status::authorized);
    settle();
    EXPECT_EQ(permissions->requests.size(), 1u);
}

// --- Listening and modes -----------------------------------------------------------------

TEST_F(AppModelTest, ADetectionSwitchesToTransparencyOnceThenReportsTheCall) {
    auto& created = listeningModel();
    ASSERT_TRUE(created.isDetectionEnabled());
    EXPECT_EQ(detectors->locales, std::vector<std::string>{"en-US"});
    EXPECT_EQ(detectors->startedWith, std::vector<std::vector<std::string>>{{"James"}});

    airPods->hold();
    detect("James");
    ASSERT_TRUE(eventually([&] { return created.isCommandRunning(); }));
    detect("James"); // dropped: a switch is under way
    settle();
    airPods->release();
    ASSERT_TRUE(eventually([&] { return !calls.isEmpty(); }));
    settle();
    EXPECT_EQ(calls, QStringList{"James"});
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"transparency"});
    EXPECT_EQ(created.selectedMode(), ListeningMode::transparency);
    EXPECT_EQ(storedSettings()["selectedMode"], "transparency");
    EXPECT_TRUE(created.isDetectionEnabled());
}

TEST_F(AppModelTest, HelperFailuresAfterADetection) {
    // What the helper throws, the message, whether listening goes on.
    const std::vector<std::tuple<AppError, QString, bool>> cases{
        {AppError::airPodsNotConnected(), "AirPods are not connected. Connect them and try again.", true},
        {AppError::helperMissing("/opt/ModeRelay"), "AirPods helper was not found at /opt/ModeRelay.", false},
        {AppError::helperTimedOut(), "AirPods helper timed out.", false},
    };
    for (const auto& [error, message, stillListening] : cases) {
        SCOPED_TRACE(message.toStdString());
        auto& created = listeningModel();
        airPods->willAnswer(error);
        detect("James");
        ASSERT_TRUE(eventually([&] { return created.errorMessage().has_value(); }));
        EXPECT_EQ(created.errorMessage(), message);
        EXPECT_EQ(created.isDetectionEnabled(), stillListening);
        EXPECT_FALSE(created.isCommandRunning());
        EXPECT_EQ(created.selectedMode(), ListeningMode::anc);
        EXPECT_TRUE(calls.isEmpty());
    }
}

TEST_F(AppModelTest, TheShortcutTogglesBetweenNoiseCancellationAndTransparency) {
    const std::vector<std::pair<QByteArray, std::string>> cases{
        {"anc", "transparency"}, {"normal", "anc"}, {"transparency", "anc"}};
    for (const auto& [from, to] : cases) {
        SCOPED_TRACE(from.toStdString());
        airPods = std::make_shared<FakeAirPods>();
        storeSettings(R"({"permissionSetupComplete": true, "selectedMode": ")" + from + R"("})");
        auto& created = makeModel();
        pressShortcut();
        ASSERT_TRUE(eventually([&] { return !airPods->commands().empty() && !created.isCommandRunning(); }));
        EXPECT_EQ(airPods->commands(), std::vector<std::string>{to});
        EXPECT_EQ(created.selectedModeRawValue().toStdString(), to);
    }
}

// Requests the model cannot serve yet end listening with a message and reach neither the
// AirPods nor a new detector.
TEST_F(AppModelTest, RequestsThatCannotRunYetFailWithAMessage) {
    const QByteArray notSetUp = R"({"wakePhrases": ["James"]})";
    const QByteArray setUp = R"({"permissionSetupComplete": true, "wakePhrases": ["James"]})";
    const QString setUpFirst = "Complete permission setup first.";
    const QString setUpFirstKorean = "먼저 권한 준비를 완료해 주세요.";
    const std::vector<std::tuple<QByteArray, std::function<void(AppModel&)>, QString, QString>> cases{
        {notSetUp, [](AppModel& m) { m.setDetectionEnabled(true); }, setUpFirst, setUpFirstKorean},
        {notSetUp, [](AppModel& m) { m.setAirPodsMode(ListeningMode::normal); }, setUpFirst, setUpFirstKorean},
        {notSetUp, [this](AppModel&) { pressShortcut(); }, setUpFirst, setUpFirstKorean},
        {R"({"permissionSetupComplete": true, "wakePhrases": []})", [](AppModel& m) { m.setDetectionEnabled(true); },
         "Add a call phrase first.", "호출어를 먼저 추가해야 합니다."},
        {setUp,
         [](AppModel& m) {
             m.setDetectionEnabled(true);
             m.setWakePhraseDraft(" \t ");
             m.addWakePhraseFromDraft();
             EXPECT_EQ(m.wakePhraseDraft(), " \t ") << "the draft stays for the user to correct";
         },
         "Enter a call phrase first.", "호출어를 먼저 입력해야 합니다."},
    };
    for (const std::string locale : {"en-US", "ko-KR"}) {
        setAppMetadataLookupForTesting([locale](std::string_view key) -> std::optional<std::string> {
            return key == "HarkwellLocale" ? std::optional<std::string>(locale) : std::nullopt;
        });
        for (const auto& [stored, request, english, korean] : cases) {
            const auto& message = locale == "en-US" ? english : korean;
            SCOPED_TRACE(message.toStdString());
            detectors = std::make_shared<FakeDetector::Log>();
            storeSettings(stored);
            auto& created = makeModel();
            request(created);
            settle();
            EXPECT_EQ(created.errorMessage(), message);
            EXPECT_FALSE(created.isDetectionEnabled());
            EXPECT_EQ(static_cast<size_t>(detectors->stops), detectors->locales.size()) << "a detector still runs";
            EXPECT_TRUE(airPods->commands().empty());
        }
    }
}

TEST_F(AppModelTest, ListeningStartsOnceAndIgnoresWhatAStoppedSessionStillSends) {
    auto& listening = listeningModel();
    listening.setDetectionEnabled(true); // already on: no second detector
    EXPECT_EQ(detectors->locales.size(), 1u);
    auto onError = detectors->onError;
    // A detection on its way when listening is turned off must not switch the AirPods.
    detect("James");
    listening.setDetectionEnabled(false);
    EXPECT_EQ(detectors->stops, 1);
    std::thread([onError] { onError(Error::platform("Recognition was cancelled.")); }).join();
    settle();
    EXPECT_FALSE(listening.errorMessage());
    EXPECT_FALSE(listening.isCommandRunning());

    // Nor may the old session's late error end the next one.
    listening.setDetectionEnabled(true);
    std::thread([onError] { onError(Error::platform("Recognition was cancelled.")); }).join();
    settle();
    EXPECT_TRUE(listening.isDetectionEnabled());
    EXPECT_FALSE(listening.errorMessage());

    std::thread([onError = detectors->onError] { onError(Error::platform("The microphone went away.")); }).join();
    ASSERT_TRUE(eventually([&] { return listening.errorMessage().has_value(); }));
    EXPECT_EQ(listening.errorMessage(), "The microphone went away.");
    EXPECT_FALSE(listening.isDetectionEnabled());
}

TEST_F(AppModelTest, ModeRequestsWhileACommandRunsAreDropped) {
    storeSettings(R"({"permissionSetupComplete": true})");
    auto& created = makeModel();
    airPods->hold();
    created.setAirPodsMode(ListeningMode::normal);
    created.setAirPodsMode(ListeningMode::transparency);
    created.refreshAirPodsMode();
    created.preparePermissions();
    EXPECT_FALSE(created.errorMessage());
    airPods->release();
    ASSERT_TRUE(eventually([&] { return !created.isCommandRunning(); }));
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"normal"});
    EXPECT_EQ(created.selectedMode(), ListeningMode::normal);

    airPods->willAnswer(ListeningMode::transparency);
    created.refreshAirPodsMode();
    ASSERT_TRUE(eventually([&] { return !created.isCommandRunning(); }));
    EXPECT_EQ(created.selectedMode(), ListeningMode::transparency);
}

// --- Phrases -----------------------------------------------------------------------------

TEST_F(AppModelTest, EditingPhrasesRestartsListeningWithTheNewList) {
    auto& created = listeningModel();
    created.setWakePhraseDraft("  Dr. Kim ");
    EXPECT_TRUE(created.canAddWakePhrase());
    created.addWakePhraseFromDraft();
    EXPECT_EQ(created.activeWakePhrases(), (QStringList{"James", "Dr. Kim"}));
    EXPECT_EQ(created.wakePhraseDraft(), "");
    EXPECT_TRUE(created.isDetectionEnabled());
    EXPECT_EQ(detectors->startedWith.back(), (std::vector<std::string>{"James", "Dr. Kim"}));
    EXPECT_EQ(detectors->stops, 1);
    EXPECT_EQ(storedSettings()["wakePhrases"], (QJsonArray{"James", "Dr. Kim"}));
    EXPECT_EQ(storedSettings()["wakePhrase"], "James");

    // Differs only in what normalisation removes: discarded without a message.
    created.setWakePhraseDraft("drkim!");
    EXPECT_FALSE(created.canAddWakePhrase());
    created.addWakePhraseFromDraft();
    EXPECT_EQ(created.wakePhraseDraft(), "");
    EXPECT_EQ(created.activeWakePhrases().size(), 2);
    EXPECT_FALSE(created.errorMessage());

    created.removeWakePhrase("dr kim");
    created.removeWakePhrase("JAMES");
    EXPECT_TRUE(created.activeWakePhrases().isEmpty());
    EXPECT_FALSE(created.isDetectionEnabled());
    EXPECT_FALSE(created.errorMessage());
    EXPECT_EQ(storedSettings()["wakePhrases"], QJsonArray{});
    EXPECT_FALSE(storedSettings().contains("wakePhrase"));
}

// --- Shortcut recording ------------------------------------------------------------------

// Escape, a key without a modifier, a combination, one the desktop refuses, and clearing.
TEST_F(AppModelTest, RecordingConsumesKeyPressesUntilACombinationIsRegistered) {
    storeSettings(R"({"hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})");
    auto& created = makeModel();
    // Stands in for the phrase field: it must see no key while recording.
    struct Field : QObject {
        int keysSeen = 0;
        bool event(QEvent* event) override {
            keysSeen += event->type() == QEvent::KeyPress;
            return QObject::event(event);
        }
    } field;
    const auto send = [&field](QKeyEvent event) { QCoreApplication::sendEvent(&field, &event); };

    created.startShortcutRecording();
    send(keyPress(Qt::Key_Escape, Qt::NoModifier, 0xff1b));
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_EQ(created.hotKeyDisplayName(), "⌃⌥K");

    created.startShortcutRecording();
    send(keyPress(Qt::Key_A, Qt::NoModifier, 'a', "a"));
    EXPECT_EQ(created.errorMessage(), "Press a key together with ⌘, ⌥, ⌃, or ⇧.");
    send(keyPress(Qt::Key_Control, Qt::ControlModifier, 0xffe3));
    EXPECT_TRUE(created.isRecordingShortcut()) << "a modifier alone is part of a combination";
    send(keyPress(Qt::Key_Up, Qt::ShiftModifier | Qt::MetaModifier, 0xff52));
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_EQ(created.hotKeyDisplayName(), "⇧⌘↑");
    EXPECT_FALSE(created.errorMessage());
    EXPECT_EQ(storedSettings()["hotKeyKeyCode"], 126);
    EXPECT_EQ(storedSettings()["hotKeyModifiers"], 0x300);
    EXPECT_EQ(storedSettings()["hotKeyDisplayKey"], "↑");
    EXPECT_EQ(field.keysSeen, 0);
    send(keyPress(Qt::Key_A, Qt::NoModifier, 'a', "a"));
    EXPECT_EQ(field.keysSeen, 1) << "recording is over: keys reach the application again";

    hotKeys->nextStatus = -10;
    created.startShortcutRecording();
    send(keyPress(Qt::Key_J, Qt::ControlModifier, 'j', "\n"));
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_FALSE(created.hotKeySetting());
    EXPECT_EQ(created.errorMessage(), "Could not register the shortcut. Another app may already use it. (-10)");
    EXPECT_EQ(storedSettings()["hotKeyDisplayKey"], "↑") << "the shortcut from before comes back at next launch";

    created.startShortcutRecording();
    created.clearShortcut();
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_FALSE(created.hotKeySetting());
    for (const char* key : {"hotKeyKeyCode", "hotKeyModifiers", "hotKeyDisplayKey"}) {
        EXPECT_FALSE(storedSettings().contains(key)) << key;
    }
}

} // namespace
} // namespace harkwell
