#include "shortcut/PortalHotKeyBackend.h"
#include "PrivateBusConnection.h"
#include "shortcut/HotKeyController.h"

#include <QCoreApplication>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString desktopService = QStringLiteral("org.freedesktop.portal.Desktop");
const HotKeySetting controlOptionK{40, 0x1800, "K"};
const HotKeySetting shiftCommandUp{126, 0x300, "↑"};

// The portal's sessions, all served by one object that records which are closed.
class FakeSessions : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")

public:
    QStringList closed;

public slots:
    void Close() { closed << message().path(); }
};

// A desktop portal with the GlobalShortcuts interface: answers like the real one through Request
// objects, keeps the sessions it makes, and emits Activated on demand.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")

public:
    // How BindShortcuts answers: bind, refuse (response 2), answer success binding nothing, or never.
    enum class BindAnswer { bind, refuse, bindNothing, silent };

    explicit FakePortal(QDBusConnection bus) : bus_(std::move(bus)) {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        EXPECT_TRUE(bus_.registerObject(desktopPath, this, QDBusConnection::ExportAllSlots) &&
                    bus_.registerService(desktopService));
    }

    BindAnswer bindAnswer = BindAnswer::bind;
    bool sessionHandleAsObjectPath = false; // older portals' form of CreateSession's result
    std::function<void()> onBind;           // called at each BindShortcuts, before it answers
    std::vector<QList<PortalShortcut>> bound;
    QStringList sessions;
    FakeSessions sessionObject;

    void activate(const QString& session) {
        QDBusMessage signal = QDBusMessage::createSignal(
            desktopPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << PortalHotKeyBackend::shortcutId << qulonglong(0)
               << QVariantMap();
        bus_.send(signal);
    }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options) {
        const QString session = desktopPath + "/session/" + caller() + "/" + options["session_handle_token"].toString();
        sessions << session;
        bus_.registerObject(session, &sessionObject, QDBusConnection::ExportAllSlots);
        const QVariant handle = sessionHandleAsObjectPath ? QVariant::fromValue(QDBusObjectPath(session)) : session;
        return answer(options, std::pair{0u, QVariantMap{{QStringLiteral("session_handle"), handle}}});
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath&, const QList<harkwell::PortalShortcut>& shortcuts,
                                  const QString&, const QVariantMap& options) {
        bound.push_back(shortcuts);
        if (onBind) {
            onBind();
        }
        if (bindAnswer == BindAnswer::silent) {
            return answer(options, std::nullopt);
        }
        const auto result = bindAnswer == BindAnswer::bind ? shortcuts : QList<PortalShortcut>{};
        return answer(options, std::pair{bindAnswer == BindAnswer::refuse ? 2u : 0u,
                                         QVariantMap{{QStringLiteral("shortcuts"), QVariant::fromValue(result)}}});
    }

private:
    QString caller() const { return message().service().mid(1).replace('.', '_'); }

    // Replies with the Request object's path, then sends its Response signal, if any.
    QDBusObjectPath answer(const QVariantMap& options, std::optional<std::pair<uint, QVariantMap>> response) {
        const QString request = desktopPath + "/request/" + caller() + "/" + options["handle_token"].toString();
        setDelayedReply(true);
        bus_.send(message().createReply(QVariant::fromValue(QDBusObjectPath(request))));
        if (response) {
            QDBusMessage signal = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                             QStringLiteral("Response"));
            signal << response->first << response->second;
            bus_.send(signal);
        }
        return {};
    }

    QDBusConnection bus_;
};

// Runs the event loop until condition holds, for at most 10 s.
template <typename Condition>
bool eventually(Condition condition) {
    const QDeadlineTimer deadline(10000);
    while (!condition() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    return condition();
}

std::int32_t refusal(HotKeyController& controller, const HotKeySetting& setting) {
    try {
        controller.registerHotKey(setting);
    } catch (const HotKeyError& error) {
        return error.status();
    }
    return 0;
}

class PortalHotKeyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString(); }
    HotKeyController makeController(std::chrono::milliseconds timeout = PortalHotKeyBackend::defaultAnswerTimeout) {
        return HotKeyController(std::make_unique<PortalHotKeyBackend>(client, timeout));
    }

    testing::PrivateDBusDaemon daemon;
    QDBusConnection client = testing::connectToPrivateBus(daemon, "harkwell");
};

TEST_F(PortalHotKeyTest, BindsReplacesAndOnlyTheCurrentSessionsActivationIsAPress) {
    FakePortal portal(testing::connectToPrivateBus(daemon, "portal"));
    auto controller = makeController();
    int presses = 0;
    controller.onPressed = [&] { ++presses; };
    // A registration started from the event loop that waits for the portal is refused; the first goes on.
    std::int32_t nested = 0;
    portal.onBind = [&] { nested = nested ? nested : refusal(controller, shiftCommandUp); };
    controller.registerHotKey(controlOptionK);
    EXPECT_EQ(nested, HotKeyError::portalBusy);
    ASSERT_EQ(portal.bound.size(), 1u);
    ASSERT_EQ(portal.bound[0].size(), 1);
    EXPECT_EQ(portal.bound[0][0].id, PortalHotKeyBackend::shortcutId);
    EXPECT_EQ(portal.bound[0][0].properties["preferred_trigger"].toString(), "CTRL+ALT+K");
    EXPECT_FALSE(portal.bound[0][0].properties["description"].toString().isEmpty());

    portal.sessionHandleAsObjectPath = true;
    controller.registerHotKey(shiftCommandUp);
    ASSERT_EQ(portal.sessions.size(), 2);
    EXPECT_EQ(portal.bound[1][0].properties["preferred_trigger"].toString(), "SHIFT+LOGO+Up");
    portal.activate(portal.sessions[0]); // late, from the replaced session
    portal.activate(portal.sessions[1]);
    EXPECT_TRUE(eventually([&] { return presses > 0; }));
    EXPECT_EQ(presses, 1);

    controller.unregisterHotKey();
    EXPECT_TRUE(eventually([&] { return portal.sessionObject.closed == portal.sessions; }));
}

TEST_F(PortalHotKeyTest, RefusalsLeaveNothingRegistered) {
    auto controller = makeController(std::chrono::milliseconds(200));
    EXPECT_EQ(refusal(controller, controlOptionK), HotKeyError::portalUnavailable) << "no portal on the bus";
    FakePortal portal(testing::connectToPrivateBus(daemon, "portal"));
    using Answer = FakePortal::BindAnswer;
    for (const auto& [answer, status] : {std::pair{Answer::refuse, HotKeyError::portalRefused},
                                         {Answer::bindNothing, HotKeyError::portalRefused},
                                         {Answer::silent, HotKeyError::portalTimedOut}}) {
        portal.bindAnswer = answer;
        EXPECT_EQ(refusal(controller, controlOptionK), status);
        EXPECT_FALSE(controller.isRegistered());
        EXPECT_TRUE(eventually([&] { return portal.sessionObject.closed == portal.sessions; }));
    }
    // A key the portal has no name for (a damaged setting) is refused before any session is made.
    EXPECT_EQ(refusal(controller, {52, 0x100, "?"}), HotKeyError::keyNotOnKeyboard);
    EXPECT_EQ(portal.sessions.size(), 3);
}

} // namespace
} // namespace harkwell

#include "PortalHotKeyBackendTest.moc"
