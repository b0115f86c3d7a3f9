#include "FakePortal.h"

#include <QDBusMessage>
#include <QDBusMetaType>

namespace harkwell::testing {
namespace {

const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString desktopService = QStringLiteral("org.freedesktop.portal.Desktop");

} // namespace

FakePortal::FakePortal(QDBusConnection bus) : bus_(std::move(bus)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    const bool isServing =
        bus_.registerObject(desktopPath, this, QDBusConnection::ExportAllSlots) && bus_.registerService(desktopService);
    if (!isServing) {
        qFatal("The fake portal cannot serve on the test bus: %s", qPrintable(bus_.lastError().message()));
    }
}

FakePortal::~FakePortal() {
    bus_.unregisterService(desktopService);
    bus_.unregisterObject(desktopPath, QDBusConnection::UnregisterTree);
}

QDBusObjectPath FakePortal::CreateSession(const QVariantMap& options) {
    const QString session = desktopPath + "/session/" + caller() + "/" + options["session_handle_token"].toString();
    sessions << session;
    QList<PortalShortcut> shortcuts;
    if (options.contains("shortcuts")) {
        options["shortcuts"].value<QDBusArgument>() >> shortcuts;
    }
    sessionShortcuts_[session] = shortcuts;
    bus_.registerObject(session, &sessionObjects, QDBusConnection::ExportAllSlots);
    const QVariant handle = sessionHandleAsObjectPath ? QVariant::fromValue(QDBusObjectPath(session)) : session;
    respond(reply(options), 0, {{QStringLiteral("session_handle"), handle}});
    return {};
}

QDBusObjectPath FakePortal::BindShortcuts(const QDBusObjectPath& session, const QList<PortalShortcut>& shortcuts,
                                          const QString&, const QVariantMap& options) {
    bound.push_back(shortcuts);
    const QString request = reply(options);
    if (holdsAnswers) {
        heldRequest_ = HeldRequest{request, session.path(), shortcuts};
    } else {
        const auto [response, results] = bindResponse(session.path(), shortcuts);
        respond(request, response, results);
    }
    return {};
}

void FakePortal::releaseAnswer() {
    if (auto held = std::exchange(heldRequest_, std::nullopt)) {
        const auto [response, results] = bindResponse(held->session, held->shortcuts);
        respond(held->request, response, results);
    }
}

void FakePortal::activate(const QString& session) {
    QDBusMessage signal = QDBusMessage::createSignal(
        desktopPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
    signal << QVariant::fromValue(QDBusObjectPath(session)) << QStringLiteral("toggle-listening-mode") << qulonglong(0)
           << QVariantMap();
    bus_.send(signal);
}

QString FakePortal::caller() const { return message().service().mid(1).replace('.', '_'); }

QString FakePortal::reply(const QVariantMap& options) {
    const QString request = desktopPath + "/request/" + caller() + "/" + options["handle_token"].toString();
    bus_.registerObject(request, &requestObjects, QDBusConnection::ExportAllSlots);
    setDelayedReply(true);
    bus_.send(message().createReply(QVariant::fromValue(QDBusObjectPath(request))));
    return request;
}

void FakePortal::respond(const QString& request, uint response, const QVariantMap& results) {
    QDBusMessage signal = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                     QStringLiteral("Response"));
    signal << response << results;
    bus_.send(signal);
}

std::pair<uint, QVariantMap> FakePortal::bindResponse(const QString& session,
                                                      const QList<PortalShortcut>& shortcuts) const {
    const auto result = bindAnswer == BindAnswer::bind               ? shortcuts
                        : bindAnswer == BindAnswer::sessionShortcuts ? sessionShortcuts_.value(session)
                                                                     : QList<PortalShortcut>{};
    return {bindAnswer == BindAnswer::refuse ? 2u : 0u, {{QStringLiteral("shortcuts"), QVariant::fromValue(result)}}};
}

} // namespace harkwell::testing
