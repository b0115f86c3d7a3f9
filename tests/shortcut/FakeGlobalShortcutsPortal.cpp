#include "FakeGlobalShortcutsPortal.h"

#include <QDBusMessage>
#include <QDBusMetaType>

#include <functional>

namespace harkwell::testing {
namespace {

const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");

class FakeSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")

public:
    explicit FakeSession(std::function<void()> onClose) : onClose_(std::move(onClose)) {}

public slots:
    void Close() { onClose_(); }

private:
    std::function<void()> onClose_;
};

} // namespace

FakeGlobalShortcutsPortal::FakeGlobalShortcutsPortal(QDBusConnection bus) : bus_(std::move(bus)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    isReady_ = bus_.registerObject(desktopPath, this, QDBusConnection::ExportAllSlots) &&
               bus_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
}

FakeGlobalShortcutsPortal::~FakeGlobalShortcutsPortal() {
    bus_.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop")); // answered before it returns
    QDBusConnection::disconnectFromBus(bus_.name());
}

QString FakeGlobalShortcutsPortal::senderPathElement() const {
    QString sender = message().service().mid(1);
    return sender.replace('.', '_');
}

QDBusObjectPath FakeGlobalShortcutsPortal::answer(const QVariantMap& options,
                                                  std::optional<std::pair<uint, QVariantMap>> response) {
    const QDBusObjectPath request(desktopPath + "/request/" + senderPathElement() + "/" +
                                  options.value(QStringLiteral("handle_token")).toString());
    setDelayedReply(true);
    bus_.send(message().createReply(QVariant::fromValue(request)));
    if (response) {
        QDBusMessage signal = QDBusMessage::createSignal(
            request.path(), QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << response->first << response->second;
        bus_.send(signal);
    }
    return request;
}

QDBusObjectPath FakeGlobalShortcutsPortal::CreateSession(const QVariantMap& options) {
    const QString session = desktopPath + "/session/" + senderPathElement() + "/" +
                            options.value(QStringLiteral("session_handle_token")).toString();
    sessions << session;
    sessionObjects_.push_back(std::make_unique<FakeSession>([this, session] { closedSessions << session; }));
    bus_.registerObject(session, sessionObjects_.back().get(), QDBusConnection::ExportAllSlots);
    const QVariant handle = sessionHandleAsObjectPath ? QVariant::fromValue(QDBusObjectPath(session)) : session;
    return answer(options, std::pair{0u, QVariantMap{{QStringLiteral("session_handle"), handle}}});
}

QDBusObjectPath FakeGlobalShortcutsPortal::BindShortcuts(const QDBusObjectPath&,
                                                         const QList<harkwell::PortalShortcut>& shortcuts,
                                                         const QString&, const QVariantMap& options) {
    boundShortcuts.push_back(shortcuts);
    if (onBind) {
        onBind();
    }
    switch (bindAnswer) {
    case BindAnswer::bind:
        return answer(options,
                      std::pair{0u, QVariantMap{{QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}}});
    case BindAnswer::refuse:
        return answer(options, std::pair{2u, QVariantMap{}});
    case BindAnswer::bindNothing:
        return answer(options, std::pair{0u, QVariantMap{{QStringLiteral("shortcuts"),
                                                          QVariant::fromValue(QList<PortalShortcut>{})}}});
    case BindAnswer::silent:
        return answer(options, std::nullopt);
    }
    return {};
}

void FakeGlobalShortcutsPortal::activate(const QString& session, const QString& shortcutId) {
    QDBusMessage signal = QDBusMessage::createSignal(
        desktopPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
    signal << QVariant::fromValue(QDBusObjectPath(session)) << shortcutId << qulonglong(0) << QVariantMap();
    bus_.send(signal);
}

} // namespace harkwell::testing

#include "FakeGlobalShortcutsPortal.moc"
