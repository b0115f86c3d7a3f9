#include "model/PermissionSetup.h"
#include "EventLoop.h"
#include "ModelFakes.h"
#include "TestLocale.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using namespace harkwell::testing;
using Status = AuthorizationStatus;

class PermissionSetupTest : public ::testing::Test, protected FakeModelParts {
protected:
    ~PermissionSetupTest() override {
        airPods->release();
        setup.reset();
        switcher.reset();
    }

    // A setup over the stored flag and the fakes as they are now, its messages kept in banner.
    PermissionSetup& makeSetup(bool storedComplete) {
        setup.reset();
        switcher = std::make_unique<AirPodsModeSwitcher>(airPods);
        settings = std::make_unique<SettingsStore>(
            writeSettingsFile(storedComplete ? R"({"permissionSetupComplete": true})" : "{}"));
        setup = std::make_unique<PermissionSetup>(permissions, *switcher, *settings);
        banner = std::nullopt;
        setup->onMessage = [this](const std::optional<QString>& message) { banner = message; };
        return *setup;
    }
    bool idle() {
        return eventually([&] { return !switcher->isCommandRunning(); });
    }
    QJsonObject storedSettings() const { return settingsIn(settings->filePath()); }

    TestLocale speaksEnglish;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<AirPodsModeSwitcher> switcher;
    std::unique_ptr<PermissionSetup> setup;
    std::optional<QString> banner;
};

// The stored flag holds only while speech recognition and the microphone are still allowed.
TEST_F(PermissionSetupTest, TheStoredFlagHoldsWhileThePermissionsDo) {
    const std::vector<std::tuple<bool, Status, Status, bool>> cases{
        {true, Status::authorized, Status::authorized, true},
        {true, Status::authorized, Status::denied, false},
        {true, Status::notDetermined, Status::authorized, false},
        {false, Status::authorized, Status::authorized, false},
    };
    for (const auto& [stored, speech, microphone, complete] : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::tuple(stored, int(speech), int(microphone))));
        permissions->speech = speech;
        permissions->microphone = microphone;
        const auto& created = makeSetup(stored);
        EXPECT_EQ(created.isComplete(), complete);
        EXPECT_EQ(created.statusText(), complete ? "Permissions ready" : "Permissions required");
    }
}

// Bluetooth is prepared (reading the mode) only after speech and microphone; absent AirPods don't block.
TEST_F(PermissionSetupTest, SetupEndsAtTheFirstRefusal) {
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
        auto& created = makeSetup(true);
        created.prepare();
        ASSERT_TRUE(idle());
        EXPECT_EQ(storedSettings()["permissionSetupComplete"], !message);
        EXPECT_EQ(created.isComplete(), !message);
        EXPECT_EQ(created.statusText(), message ? "Permissions required" : "Permissions ready");
        EXPECT_EQ(banner, message);
        EXPECT_EQ(airPods->commands().size(), speech == microphone ? 1u : 0u);
        const auto* answered = std::get_if<ListeningMode>(&bluetooth);
        EXPECT_EQ(switcher->selectedMode(), answered ? *answered : ListeningMode(ListeningMode::anc));
        EXPECT_TRUE(permissions->requests.empty());
    }
}

// Asked in turn with status texts; a second run is ignored, an answer after the setup is gone is dropped.
TEST_F(PermissionSetupTest, SetupAsksSpeechThenMicrophoneThenBluetooth) {
    permissions->speech = permissions->microphone = Status::notDetermined;
    airPods->willAnswer(ListeningMode::transparency);
    auto& created = makeSetup(false);
    QStringList statusTexts;
    QObject::connect(&created, &PermissionSetup::statusTextChanged, [&] { statusTexts.append(created.statusText()); });
    created.prepare();
    created.prepare();
    EXPECT_EQ(permissions->requests, std::vector<std::string>{"speech"});
    permissions->answerSpeech(Status::authorized);
    ASSERT_TRUE(eventually([&] { return permissions->requests.size() == 2; }));
    permissions->answerMicrophone(true);
    ASSERT_TRUE(eventually([&] { return created.isComplete(); }));
    EXPECT_EQ(statusTexts, (QStringList{"Checking Speech Recognition permission", "Checking microphone permission",
                                        "Checking Bluetooth permission", "Permissions ready"}));
    EXPECT_EQ(airPods->commands(), std::vector<std::string>{"request-permission"});
    EXPECT_FALSE(switcher->isCommandRunning()) << "the gate stayed held";

    makeSetup(false).prepare();
    setup.reset();
    permissions->answerSpeech(Status::authorized);
    settle();
    EXPECT_EQ(permissions->requests.size(), 3u) << "the gone setup went on";
}

} // namespace
} // namespace harkwell
