#include "model/ShortcutRecorder.h"
#include "EventLoop.h"
#include "ModelFakes.h"
#include "TestLocale.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using namespace harkwell::testing;

QString refusalText(std::int32_t status, DesktopKind desktop = DesktopKind::other) {
    return QString::fromStdString(HotKeyError::registrationFailed(status, desktop).errorDescription());
}

// GNOME's custom keybindings as a list of what was written, or a refusal.
class FakeCustomKeybindings final : public CustomKeybindings {
public:
    struct Log {
        std::vector<CustomKeybinding> written;
        int removed = 0;
        std::optional<QString> failure;
    };
    explicit FakeCustomKeybindings(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    std::optional<QString> write(const CustomKeybinding& keybinding) override {
        if (!log_->failure) {
            log_->written.push_back(keybinding);
        }
        return log_->failure;
    }
    std::optional<QString> remove() override {
        ++log_->removed;
        return std::nullopt;
    }

private:
    std::shared_ptr<Log> log_;
};

const QByteArray storedControlOptionK = R"({"hotKeyKeyCode": 40, "hotKeyModifiers": 6144, "hotKeyDisplayKey": "K"})";

class ShortcutRecorderTest : public ::testing::Test, protected FakeModelParts {
protected:
    ~ShortcutRecorderTest() override { recorder.reset(); }

    // A recorder over a new settings file holding stored, with the stored shortcut registered; the
    // old recorder goes first, as it unhooks the fake hot-key backend.
    ShortcutRecorder& makeRecorder(const QByteArray& stored, DesktopKind desktop = DesktopKind::other,
                                   std::unique_ptr<CustomKeybindings> keybindings = nullptr) {
        recorder.reset();
        path = writeSettingsFile(stored);
        settings = std::make_unique<SettingsStore>(path);
        recorder = std::make_unique<ShortcutRecorder>(
            std::make_unique<HotKeyController>(std::make_unique<FakeHotKeyBackend>(hotKeys), desktop,
                                               std::move(keybindings)),
            std::make_unique<FakeKeyEventMonitor>(keys), *settings);
        banner = std::nullopt;
        recorder->onMessage = [this](const std::optional<QString>& message) { banner = message; };
        recorder->onPressed = [this] { ++presses; };
        recorder->registerStored();
        return *recorder;
    }
    QJsonObject storedSettings() const { return settingsIn(path); }

    TestLocale speaksEnglish;
    QString path;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<ShortcutRecorder> recorder;
    std::optional<QString> banner;
    int presses = 0;
};

// Registration at launch (a refusal keeps it shown and stored), then recording and clearing.
TEST_F(ShortcutRecorderTest, TheShortcutFromLaunchThroughRecordingToClearing) {
    EXPECT_FALSE(makeRecorder(R"({"hotKeyKeyCode": 40, "hotKeyDisplayKey": "K"})").setting());
    hotKeys->nextStatus = -10;
    EXPECT_EQ(makeRecorder(storedControlOptionK).displayName(), "Ctrl+Alt+K");
    EXPECT_EQ(banner, refusalText(-10));
    EXPECT_EQ(storedSettings(), json(storedControlOptionK));
    hotKeys->nextStatus = 0;
    auto& created = makeRecorder(storedControlOptionK);
    EXPECT_EQ(hotKeys->registered, created.setting());
    EXPECT_FALSE(banner);
    hotKeys->backend->press({HotKeyController::signature, HotKeyController::hotKeyNumber});
    EXPECT_TRUE(eventually([&] { return presses == 1; }));

    // A refused combination leaves the shortcut from before in effect: shown, stored, registered.
    hotKeys->nextStatus = -10;
    created.start();
    keys->press(Qt::Key_J, Qt::ControlModifier, 'j');
    EXPECT_EQ(created.displayName(), "Ctrl+Alt+K");
    EXPECT_EQ(banner, refusalText(-10));
    EXPECT_EQ(storedSettings(), json(storedControlOptionK));
    EXPECT_EQ(hotKeys->registered, created.setting());

    hotKeys->nextStatus = 0;
    created.start();
    EXPECT_FALSE(banner) << "recording kept the message from before";
    EXPECT_TRUE(keys->press(Qt::Key_Escape, Qt::NoModifier, 0xff1b));
    EXPECT_FALSE(created.isRecording()) << "Escape cancels recording";
    EXPECT_EQ(created.displayName(), "Ctrl+Alt+K");
    created.start();
    EXPECT_TRUE(keys->press(Qt::Key_Shift, Qt::ShiftModifier, 0xffe1));
    EXPECT_TRUE(created.isRecording()) << "a modifier alone ended recording";
    EXPECT_FALSE(banner) << "a modifier on its way to a combination was refused";
    EXPECT_TRUE(keys->press(Qt::Key_A, Qt::NoModifier, 'a'));
    EXPECT_EQ(banner, "Press a key together with Super, Ctrl, Alt or Shift.");
    keys->press(Qt::Key_Up, Qt::ShiftModifier | Qt::MetaModifier, 0xff52);
    EXPECT_EQ(created.displayName(), "Super+Shift+Up");
    EXPECT_EQ(hotKeys->registered, created.setting());
    EXPECT_FALSE(banner);
    EXPECT_EQ(storedSettings(), json(R"({"hotKeyKeyCode": 126, "hotKeyModifiers": 768, "hotKeyDisplayKey": "↑"})"));
    EXPECT_FALSE(keys->press(Qt::Key_A, Qt::NoModifier, 'a')) << "recording is over: keys reach the application again";

    created.start();
    created.clear(); // while recording: recording ends too
    EXPECT_FALSE(created.isRecording());
    EXPECT_FALSE(keys->press(Qt::Key_A, Qt::NoModifier, 'a'));
    EXPECT_FALSE(hotKeys->registered);
    EXPECT_EQ(storedSettings(), QJsonObject());
}

// Until a late desktop answer the old shortcut stays; a clearing in between drops the answer.
TEST_F(ShortcutRecorderTest, TheDesktopsLateAnswerDecidesTheShortcut) {
    hotKeys->nextStatus = std::nullopt;
    auto& created = makeRecorder(storedControlOptionK);
    EXPECT_EQ(hotKeys->waiting, created.setting());
    EXPECT_FALSE(banner);
    hotKeys->backend->answer(HotKeyError::portalRefused);
    EXPECT_EQ(banner, refusalText(-2002));
    EXPECT_EQ(created.displayName(), "Ctrl+Alt+K");

    created.start();
    keys->press(Qt::Key_Up, Qt::ShiftModifier | Qt::MetaModifier, 0xff52);
    EXPECT_FALSE(created.isRecording());
    EXPECT_FALSE(banner);
    EXPECT_EQ(created.displayName(), "Ctrl+Alt+K") << "shown before the desktop agreed";
    hotKeys->backend->answer(0);
    EXPECT_EQ(created.displayName(), "Super+Shift+Up");
    EXPECT_EQ(storedSettings()["hotKeyDisplayKey"], "↑");

    created.start();
    keys->press(Qt::Key_J, Qt::ControlModifier, 'j');
    created.clear();
    hotKeys->backend->answer(0);
    EXPECT_FALSE(created.setting());
    EXPECT_FALSE(hotKeys->registered);
    EXPECT_EQ(storedSettings(), QJsonObject());
}

// Where the desktop registers no shortcuts, the recorded one is kept for the desktop's own
// settings and the note says what to do there: GNOME's button binds it, sway gets a config line.
TEST_F(ShortcutRecorderTest, WhereTheDesktopRegistersNoneItIsBoundInTheDesktopsSettings) {
    auto gnome = std::make_shared<FakeCustomKeybindings::Log>();
    hotKeys->nextStatus = HotKeyError::portalUnavailable;
    auto& created =
        makeRecorder(storedControlOptionK, DesktopKind::gnome, std::make_unique<FakeCustomKeybindings>(gnome));
    EXPECT_FALSE(banner) << "the note says it, not the banner at each launch";
    EXPECT_EQ(created.desktopNote(), refusalText(HotKeyError::portalUnavailable, DesktopKind::gnome));
    EXPECT_TRUE(created.canBindInDesktopSettings());
    created.start();
    keys->press(Qt::Key_Up, Qt::ShiftModifier | Qt::MetaModifier, 0xff52);
    EXPECT_EQ(created.displayName(), "Super+Shift+Up") << "kept although refused";
    EXPECT_EQ(storedSettings()["hotKeyDisplayKey"], "↑");

    gnome->failure = "GNOME's keyboard shortcuts cannot be changed.";
    created.bindInDesktopSettings();
    EXPECT_EQ(banner, gnome->failure);
    gnome->failure.reset();
    created.bindInDesktopSettings();
    ASSERT_EQ(gnome->written.size(), 1u);
    EXPECT_EQ(gnome->written[0].command, "harkwell --toggle-mode");
    EXPECT_EQ(gnome->written[0].binding, "<Super><Shift>Up");
    const QString bound = "Added to GNOME's keyboard shortcuts: Super+Shift+Up runs harkwell --toggle-mode.";
    EXPECT_EQ(created.desktopNote(), bound);
    auto& relaunched = makeRecorder(QJsonDocument(storedSettings()).toJson(), DesktopKind::gnome,
                                    std::make_unique<FakeCustomKeybindings>(gnome));
    EXPECT_EQ(relaunched.desktopNote(), bound) << "the next launch forgot that it is bound";
    relaunched.start();
    keys->press(Qt::Key_J, Qt::ControlModifier, 'j');
    EXPECT_EQ(relaunched.desktopNote(), refusalText(HotKeyError::portalUnavailable, DesktopKind::gnome))
        << "other keys than those in GNOME's settings";
    relaunched.clear();
    EXPECT_EQ(gnome->removed, 1) << "cleared, but still bound in GNOME's settings";

    auto& onSway = makeRecorder(storedControlOptionK, DesktopKind::sway);
    EXPECT_EQ(onSway.desktopNote(), refusalText(HotKeyError::portalUnavailable, DesktopKind::sway));
    EXPECT_FALSE(onSway.canBindInDesktopSettings());
    EXPECT_EQ(onSway.desktopConfigLine(), "bindsym Ctrl+Mod1+k exec harkwell --toggle-mode");
    hotKeys->nextStatus = 0;
    onSway.start();
    keys->press(Qt::Key_J, Qt::ControlModifier, 'j');
    EXPECT_TRUE(onSway.desktopNote().isEmpty()) << "registered after all";
    EXPECT_TRUE(onSway.desktopConfigLine().isEmpty());
}

} // namespace
} // namespace harkwell
