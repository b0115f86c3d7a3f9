#include "model/AppModel.h"
#include "EventLoop.h"
#include "ModelFakes.h"
#include "locale/AppMetadata.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using namespace harkwell::testing;

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
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    AppModel& makeModel() {
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

    QTemporaryDir directory;
    int generation = 0;
    std::unique_ptr<AppModel> model;
    QStringList calls;
};

// --- Construction ------------------------------------------------------------------------

TEST_F(AppModelTest, LoadsPhrasesMigratingTheLegacySinglePhrase) {
    struct Case {
        QByteArray stored;
        QStringList phrases;
        QJsonObject storedAfter;
    };
    const std::vector<Case> cases{
        {R"({"wakePhrase": "  James "})",
         {"James"},
         QJsonObject{{"wakePhrases", QJsonArray{"James"}}, {"wakePhrase", "James"}}},
        {R"({"wakePhrases": [], "wakePhrase": "James"})",
         {},
         QJsonObject{{"wakePhrases", QJsonArray{}}, {"wakePhrase", "James"}}},
        {R"({"wakePhrases": ["Minsu", " minsu ", "Dr. Kim"]})",
         {"Minsu", "Dr. Kim"},
         QJsonObject{{"wakePhrases", QJsonArray{"Minsu", " minsu ", "Dr. Kim"}}}},
        {R"({"wakePhrases": "James", "wakePhrase": "Kim"})",
         {"Kim"},
         QJsonObject{{"wakePhrases", QJsonArray{"Kim"}}, {"wakePhrase", "Kim"}}},
        {R"({"wakePhrase": "   "})", {}, QJsonObject{{"wakePhrases", QJsonArray{}}}},
        {"{}", {}, QJsonObject{}},
    };
    for (const auto& c : cases) {
        storeSettings(c.stored);
        const auto& created = makeModel();
        EXPECT_EQ(created.activeWakePhrases(), c.phrases) << c.stored.toStdString();
        EXPECT_EQ(storedSettings(), c.storedAfter) << c.stored.toStdString();
        EXPECT_FALSE(created.isDetectionEnabled());
        model.reset();
    }
}

TEST_F(AppModelTest, ReadsTheModeAndThePermissionFlagWithoutWritingThem) {
    struct Case {
        QByteArray stored;
        AuthorizationStatus microphone;
        ListeningMode mode;
        bool setupComplete;
    };
    const std::vector<Case> cases{
        {R"({"selectedMode": "transparency", "permissionSetupComplete": true})", AuthorizationStatus::authorized,
         ListeningMode::transparency, true},
        {R"({"selectedMode": "Transparency", "permissionSetupComplete": true})", AuthorizationStatus::denied,
         ListeningMode::anc, false},
        {R"({"selectedMode": "", "permissionSetupComplete": "true"})", AuthorizationStatus::authorized,
         ListeningMode::anc, false},
        {R"({"selectedMode": 2})", AuthorizationStatus::authorized, ListeningMode::anc, false},
        {R"({"selectedMode": "normal"})", AuthorizationStatus::authorized, ListeningMode::normal, false},
    };
    for (const auto& c : cases) {
        storeSettings(c.stored);
        permissions->microphone = c.microphone;
        const auto& created = makeModel();
        EXPECT_EQ(created.selectedMode(), c.mode) << c.stored.toStdString();
        EXPECT_EQ(created.isPermissionSetupComplete(), c.setupComplete) << c.stored.toStdString();
        EXPECT_EQ(created.permissionStatusText(), c.setupComplete ? "Permissions ready" : "Permissions required");
        EXPECT_EQ(storedSettings(), QJsonDocument::fromJson(c.stored).object()) << "construction wrote settings";
        model.reset();
    }
}

TEST_F(AppModelTest, RegistersTheStoredShortcutAndKeepsItWhenRefused) {
    storeSettings(R"({"hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})");
    hotKeys->nextStatus = -10;
    auto& created = makeModel();
    EXPECT_EQ(created.hotKeyDisplayName(), "⌃⌥K");
    EXPECT_FALSE(created.errorMessage());
    model.reset();

    hotKeys->nextStatus = 0;
    storeSettings(R"({"hotKeyKeyCode": 40, "hotKeyDisplayKey": "K"})");
    EXPECT_FALSE(makeModel().hotKeySetting());
    EXPECT_TRUE(hotKeys->registered.empty());
    model.reset();

    storeSettings(R"({"hotKeyKeyCode": 40, "hotKeyModifiers": "6144", "hotKeyDisplayKey": "K"})");
    EXPECT_FALSE(makeModel().hotKeySetting());
}

// --- Permission setup --------------------------------------------------------------------

TEST_F(AppModelTest, PermissionSetupAsksSpeechThenMicrophoneThenBluetooth) {
    permissions->speech = AuthorizationStatus::notDetermined;
    permissions->microphone = AuthorizationStatus::notDetermined;
    airPods->willAnswer(ListeningMode::transparency);
    auto& created = makeModel();
    QStringList statusTexts;
    QObject::connect(&created, &AppModel::permissionStatusTextChanged,
                     [&] { statusTexts.append(created.permissionStatusText()); });

    created.preparePermissions();
    EXPECT_TRUE(created.isCommandRunning());
    EXPECT_EQ(permissions->requests, std::vector<std::string>{"speech"});
    permissions->answerSpeech(AuthorizationStatus::authorized);
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

TEST_F(AppModelTest, PermissionSetupEndsAtTheFirstRefusal) {
    struct Case {
        AuthorizationStatus speech;
        AuthorizationStatus microphone;
        std::optional<AppError> bluetooth;
        bool complete;
        std::optional<QString> message;
        size_t helperRuns;
    };
    const std::vector<Case> cases{
        {AuthorizationStatus::denied,
         AuthorizationStatus::authorized,
         {},
         false,
         "Speech Recognition permission is required.",
         0},
        {AuthorizationStatus::restricted,
         AuthorizationStatus::authorized,
         {},
         false,
         "Speech Recognition permission is required.",
         0},
        {AuthorizationStatus::authorized,
         AuthorizationStatus::denied,
         {},
         false,
         "Microphone permission is required.",
         0},
        {AuthorizationStatus::authorized,
         AuthorizationStatus::restricted,
         {},
         false,
         "Microphone permission is required.",
         0},
        {AuthorizationStatus::authorized, AuthorizationStatus::authorized, AppError::airPodsNotConnected(), true,
         std::nullopt, 1},
        {AuthorizationStatus::authorized, AuthorizationStatus::authorized, AppError::helperMissing("/x/ModeRelay"),
         false, "AirPods helper was not found at /x/ModeRelay.", 1},
    };
    for (const auto& c : cases) {
        airPods = std::make_shared<FakeAirPods>();
        permissions->speech = c.speech;
        permissions->microphone = c.microphone;
        if (c.bluetooth) {
            airPods->willAnswer(*c.bluetooth);
        }
        storeSettings(R"({"permissionSetupComplete": true, "selectedMode": "normal"})");
        auto& created = makeModel();
        created.preparePermissions();
        ASSERT_TRUE(eventually([&] { return !created.isCommandRunning(); }));
        EXPECT_EQ(created.isPermissionSetupComplete(), c.complete);
        EXPECT_EQ(storedSettings()["permissionSetupComplete"], c.complete);
        EXPECT_EQ(created.permissionStatusText(), c.complete ? "Permissions ready" : "Permissions required");
        EXPECT_EQ(created.errorMessage(), c.message);
        EXPECT_EQ(airPods->commands().size(), c.helperRuns);
        EXPECT_TRUE(permissions->requests.empty()) << "decided permissions are not asked again";
        EXPECT_EQ(created.selectedMode(), ListeningMode::normal);
        model.reset();
    }
}

TEST_F(AppModelTest, PermissionSetupIgnoresASecondRunAndAnswersAfterTheModelIsGone) {
    permissions->speech = AuthorizationStatus::notDetermined;
    auto& created = makeModel();
    created.preparePermissions();
    created.preparePermissions();
    EXPECT_EQ(permissions->requests.size(), 1u);

    model.reset();
    permissions->answerSpeech(AuthorizationStatus::authorized);
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
    struct Case {
        AppError error;
        QString message;
        bool stillListening;
    };
    const std::vector<Case> cases{
        {AppError::airPodsNotConnected(), "AirPods are not connected. Connect them and try again.", true},
        {AppError::helperMissing("/opt/ModeRelay"), "AirPods helper was not found at /opt/ModeRelay.", false},
        {AppError::helperTimedOut(), "AirPods helper timed out.", false},
    };
    for (const auto& c : cases) {
        auto& created = listeningModel();
        airPods->willAnswer(c.error);
        detect("James");
        ASSERT_TRUE(eventually([&] { return created.errorMessage().has_value(); }));
        EXPECT_EQ(created.errorMessage(), c.message);
        EXPECT_EQ(created.isDetectionEnabled(), c.stillListening);
        EXPECT_FALSE(created.isCommandRunning());
        EXPECT_EQ(created.selectedMode(), ListeningMode::anc);
        EXPECT_TRUE(calls.isEmpty());
        model.reset();
    }
}

TEST_F(AppModelTest, TheShortcutTogglesBetweenNoiseCancellationAndTransparency) {
    const std::vector<std::pair<QByteArray, std::string>> cases{
        {"anc", "transparency"}, {"normal", "anc"}, {"transparency", "anc"}};
    for (const auto& [from, to] : cases) {
        airPods = std::make_shared<FakeAirPods>();
        storeSettings(R"({"permissionSetupComplete": true, "selectedMode": ")" + from + R"("})");
        auto& created = makeModel();
        hotKeys->backend->press({HotKeyController::signature, 1});
        ASSERT_TRUE(eventually([&] { return !airPods->commands().empty() && !created.isCommandRunning(); }));
        EXPECT_EQ(airPods->commands(), std::vector<std::string>{to});
        EXPECT_EQ(created.selectedModeRawValue().toStdString(), to);
        model.reset();
    }
}

TEST_F(AppModelTest, NothingRunsBeforePermissionSetup) {
    storeSettings(R"({"wakePhrases": ["James"]})");
    auto& created = makeModel();
    const std::vector<std::function<void()>> requests{
        [&] { created.setDetectionEnabled(true); },
        [&] { created.setAirPodsMode(ListeningMode::normal); },
        [&] {
            hotKeys->backend->press({HotKeyController::signature, 1});
        },
    };
    for (const auto& request : requests) {
        request();
        settle();
        EXPECT_EQ(created.errorMessage(), "Complete permission setup first.");
        created.cancelShortcutRecording(); // clears the message
    }
    EXPECT_TRUE(airPods->commands().empty());
    EXPECT_TRUE(detectors->locales.empty());
    EXPECT_FALSE(created.isDetectionEnabled());
}

TEST_F(AppModelTest, ListeningNeedsAPhraseAndIgnoresErrorsOnceOff) {
    auto& created = listeningModel("[]");
    EXPECT_FALSE(created.isDetectionEnabled());
    EXPECT_EQ(created.errorMessage(), "Add a call phrase first.");
    model.reset();

    auto& listening = listeningModel();
    listening.setDetectionEnabled(true); // already on: no second detector
    EXPECT_EQ(detectors->locales.size(), 1u);
    auto onError = detectors->onError;
    listening.setDetectionEnabled(false);
    EXPECT_EQ(detectors->stops, 1);
    std::thread([onError] { onError(Error::platform("Recognition was cancelled.")); }).join();
    settle();
    EXPECT_FALSE(listening.errorMessage());

    listening.setDetectionEnabled(true);
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

TEST_F(AppModelTest, AddingABlankDraftFailsAndStopsListening) {
    auto& created = listeningModel();
    created.setWakePhraseDraft(" \t ");
    created.addWakePhraseFromDraft();
    EXPECT_EQ(created.errorMessage(), "Enter a call phrase first.");
    EXPECT_FALSE(created.isDetectionEnabled());
    EXPECT_EQ(created.wakePhraseDraft(), " \t ");
}

// --- Shortcut recording ------------------------------------------------------------------

TEST_F(AppModelTest, RecordingConsumesKeyPressesUntilACombinationIsRegistered) {
    storeSettings(R"({"hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})");
    auto& created = makeModel();
    QObject field; // stands in for the phrase field: it must see no key while recording
    int keysSeen = 0;
    struct Counter : QObject {
        int* seen;
        bool event(QEvent* event) override {
            if (event->type() == QEvent::KeyPress) {
                ++*seen;
            }
            return QObject::event(event);
        }
    } counter;
    counter.seen = &keysSeen;

    created.startShortcutRecording();
    EXPECT_TRUE(created.isRecordingShortcut());
    auto plainA = keyPress(Qt::Key_A, Qt::NoModifier, 'a', "a");
    QCoreApplication::sendEvent(&counter, &plainA);
    EXPECT_EQ(keysSeen, 0);
    EXPECT_EQ(created.errorMessage(), "Press a key together with ⌘, ⌥, ⌃, or ⇧.");
    EXPECT_TRUE(created.isRecordingShortcut());

    auto control = keyPress(Qt::Key_Control, Qt::ControlModifier, 0xffe3);
    QCoreApplication::sendEvent(&counter, &control);
    EXPECT_TRUE(created.isRecordingShortcut()) << "a modifier alone is part of a combination";

    auto shiftUp = keyPress(Qt::Key_Up, Qt::ShiftModifier | Qt::MetaModifier, 0xff52);
    QCoreApplication::sendEvent(&counter, &shiftUp);
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_EQ(created.hotKeyDisplayName(), "⇧⌘↑");
    EXPECT_FALSE(created.errorMessage());
    EXPECT_EQ(storedSettings()["hotKeyKeyCode"], 126);
    EXPECT_EQ(storedSettings()["hotKeyModifiers"], 0x300);
    EXPECT_EQ(storedSettings()["hotKeyDisplayKey"], "↑");

    // Recording is over: keys reach the application again.
    QCoreApplication::sendEvent(&counter, &plainA);
    EXPECT_EQ(keysSeen, 1);
}

TEST_F(AppModelTest, EscapeRefusalAndClearWhileRecording) {
    storeSettings(R"({"hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})");
    auto& created = makeModel();
    QObject target;

    created.startShortcutRecording();
    auto escape = keyPress(Qt::Key_Escape, Qt::NoModifier, 0xff1b);
    QCoreApplication::sendEvent(&target, &escape);
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_EQ(created.hotKeyDisplayName(), "⌃⌥K");

    hotKeys->nextStatus = -10;
    created.startShortcutRecording();
    auto controlJ = keyPress(Qt::Key_J, Qt::ControlModifier, 'j', "\n");
    QCoreApplication::sendEvent(&target, &controlJ);
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_FALSE(created.hotKeySetting());
    EXPECT_EQ(created.errorMessage(), "Could not register the shortcut. Another app may already use it. (-10)");
    EXPECT_EQ(storedSettings()["hotKeyDisplayKey"], "K") << "the shortcut from before comes back at next launch";

    created.startShortcutRecording();
    created.clearShortcut();
    EXPECT_FALSE(created.isRecordingShortcut());
    EXPECT_FALSE(created.hotKeySetting());
    EXPECT_FALSE(storedSettings().contains("hotKeyKeyCode"));
    EXPECT_FALSE(storedSettings().contains("hotKeyModifiers"));
    EXPECT_FALSE(storedSettings().contains("hotKeyDisplayKey"));
}

} // namespace
} // namespace harkwell
