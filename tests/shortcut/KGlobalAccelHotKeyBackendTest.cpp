#include "shortcut/KGlobalAccelHotKeyBackend.h"
#include "EventLoop.h"
#include "OtherXClient.h"
#include "PrivateBusConnection.h"
#include "shortcut/HotKeyController.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

constexpr xcb_keysym_t controlL = 0xffe3, altL = 0xffe9;

// Against KDE's own kglobalaccel (Debian package libkf5globalaccel-bin) on the test's X server and
// a private bus: the keys it is given fire; keys another action holds are refused and the earlier
// ones keep firing; unregistering makes the action inactive.
TEST(KGlobalAccelHotKeyTest, KdesServiceBindsTheKeysItIsGiven) {
    const testing::PrivateDBusDaemon daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
    const QTemporaryDir config;
    testing::ChildProcess kglobalaccel;
    ASSERT_TRUE(kglobalaccel.start("kglobalaccel5", {},
                                   {"DBUS_SESSION_BUS_ADDRESS=" + daemon.address().toStdString(),
                                    "XDG_CONFIG_HOME=" + config.path().toStdString(), "QT_QPA_PLATFORM=xcb"}))
        << kglobalaccel.error();
    QDBusConnection bus = testing::connectToPrivateBus(daemon, "harkwell");
    ASSERT_TRUE(
        testing::eventually([&] { return KGlobalAccelHotKeyBackend::isAvailable(bus); }, std::chrono::seconds(30)))
        << kglobalaccel.log();

    // Another application's action holds Ctrl+Alt+J.
    QDBusMessage other = QDBusMessage::createMethodCall(KGlobalAccelHotKeyBackend::service, "/kglobalaccel",
                                                        "org.kde.KGlobalAccel", "setShortcut");
    const QStringList otherAction{"other", "action", "Other", "Action"};
    other << otherAction << QVariant::fromValue(QList<int>{(Qt::CTRL | Qt::ALT | Qt::Key_J).toCombined()}) << 6u;
    bus.call(QDBusMessage::createMethodCall(other.service(), other.path(), other.interface(), "doRegister")
             << otherAction);
    ASSERT_EQ(bus.call(other).type(), QDBusMessage::ReplyMessage);

    HotKeyController controller(std::make_unique<KGlobalAccelHotKeyBackend>(bus));
    int presses = 0;
    controller.onPressed = [&] { ++presses; };
    std::vector<std::int32_t> statuses;
    const auto record = [&](const std::optional<HotKeyError>& refusal) {
        statuses.push_back(refusal ? refusal->status() : 0);
    };
    testing::OtherXClient keyboard;
    controller.registerHotKey({40, 0x1800, "K"}, record);
    ASSERT_TRUE(testing::eventually([&] { return statuses.size() == 1; }));
    EXPECT_EQ(statuses[0], 0);
    keyboard.type({controlL, altL, 'k'});
    EXPECT_TRUE(testing::eventually([&] { return presses == 1; })) << kglobalaccel.log();

    controller.registerHotKey({38, 0x1800, "J"}, record);
    ASSERT_TRUE(testing::eventually([&] { return statuses.size() == 2; }));
    EXPECT_EQ(statuses[1], HotKeyError::portalRefused);
    // kglobalaccel took the earlier keys away on refusing, and the backend gives them back without
    // waiting: a call on the same connection returns once kglobalaccel has handled that. Its key
    // grab reaches the X server on its own connection, so a press typed in between is typed again.
    const auto isActive = [&] {
        return bus.call(QDBusMessage::createMethodCall(other.service(), "/component/harkwell",
                                                       "org.kde.kglobalaccel.Component", "isActive"));
    };
    isActive();
    keyboard.type({controlL, altL, 'k'});
    if (!testing::eventually([&] { return presses == 2; }, std::chrono::seconds(2))) {
        keyboard.type({controlL, altL, 'k'});
    }
    EXPECT_TRUE(testing::eventually([&] { return presses == 2; })) << "the earlier keys no longer fire";

    // Unregistered, the action is inactive: its keys do nothing while Harkwell is not running.
    controller.unregisterHotKey();
    const QDBusMessage active = isActive();
    ASSERT_EQ(active.type(), QDBusMessage::ReplyMessage) << active.errorMessage().toStdString();
    EXPECT_EQ(active.arguments().value(0), QVariant(false));
}

} // namespace
} // namespace harkwell
