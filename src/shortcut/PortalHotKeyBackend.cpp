#include "shortcut/PortalHotKeyBackend.h"

#include "PortalProxies.h"
#include "core/Log.h"
#include "shortcut/HotKeyError.h"
#include "shortcut/KeyNotation.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QTimer>

#include <algorithm>

namespace harkwell {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// The session handle comes as a string from newer portals and as an object path from older ones.
QString handleString(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    return value.toString();
}

QList<PortalShortcut> shortcutsOf(const QVariant& value) {
    QList<PortalShortcut> shortcuts;
    if (value.canConvert<QDBusArgument>()) {
        value.value<QDBusArgument>() >> shortcuts;
    }
    return shortcuts;
}

// No portal, or one without GlobalShortcuts (GNOME's before 48 answers "No such interface").
bool isMissing(const QDBusError& error) {
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownObject:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

// One registration from its start to the portal's answer. Everything it waits for is a child
// or uses it as context, so that deleting it ends every wait.
class PortalHotKeyBackend::Registration : public QObject {
public:
    Registration(QObject* parent, HotKeyId hotKey, QString shortcut)
        : QObject(parent), id(hotKey), trigger(std::move(shortcut)) {}

    HotKeyId id;
    QString trigger;
    QString session;                                         // once the portal has made it
    OrgFreedesktopPortalRequestInterface* request = nullptr; // the call waiting for its answer
    QTimer timeout;
};

PortalHotKeyBackend::PortalHotKeyBackend(QDBusConnection bus, std::chrono::milliseconds answerTimeout)
    : bus_(std::move(bus)), answerTimeout_(answerTimeout),
      portal_(new OrgFreedesktopPortalGlobalShortcutsInterface(portalService, portalPath, bus_, this)) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    // QtDBus relays a signal only when it knows its parameter types by name at the connection.
    qRegisterMetaType<QDBusObjectPath>();
    connect(portal_, &OrgFreedesktopPortalGlobalShortcutsInterface::Activated, this,
            [this](const QDBusObjectPath& session, const QString& shortcut) {
                if (!sessionHandle_.isEmpty() && session.path() == sessionHandle_ && shortcut == shortcutId) {
                    reportPress(id_);
                }
            });
}

PortalHotKeyBackend::~PortalHotKeyBackend() { unregisterHotKey(); }

std::optional<std::int32_t> PortalHotKeyBackend::registerHotKey(const HotKeySetting& setting, HotKeyId id) {
    if (registration_) {
        qCDebug(logShortcut) << "An earlier registration still waits for the desktop portal's answer";
        return HotKeyError::portalBusy;
    }
    if (!bus_.isConnected()) {
        qCWarning(logShortcut) << "No session bus for the desktop portal:" << bus_.lastError().name()
                               << bus_.lastError().message();
        return HotKeyError::portalUnavailable;
    }
    const QString trigger = keyNotation(setting, KeyNotation::portal);
    if (trigger.isEmpty()) {
        return HotKeyError::keyNotOnKeyboard;
    }
    auto* registration = new Registration(this, id, trigger);
    registration_ = registration;
    registration->timeout.setSingleShot(true);
    connect(&registration->timeout, &QTimer::timeout, registration, [this, registration] {
        if (registration_ == registration) {
            qCWarning(logShortcut) << "The desktop portal did not answer within" << answerTimeout_.count() << "ms";
            finish(HotKeyError::portalTimedOut);
        }
    });
    registration->timeout.start(answerTimeout_);
    qCDebug(logShortcut) << "Asking the desktop portal to bind" << trigger;
    createSession();
    return std::nullopt;
}

PortalShortcut PortalHotKeyBackend::shortcut() const {
    return {shortcutId,
            {{QStringLiteral("description"), hotKeyDescription()},
             {QStringLiteral("preferred_trigger"), registration_->trigger}}};
}

void PortalHotKeyBackend::createSession() {
    request(
        QStringLiteral("CreateSession"),
        {{QStringLiteral("session_handle_token"), nextToken()},
         {QStringLiteral("shortcuts"), QVariant::fromValue(QList<PortalShortcut>{shortcut()})}},
        [this](const QVariantMap& options) { return portal_->CreateSession(options); },
        [this](const QVariantMap& results) {
            const QString session = handleString(results.value(QStringLiteral("session_handle")));
            if (session.isEmpty()) {
                qCWarning(logShortcut) << "The desktop portal made a session without a handle";
                finish(HotKeyError::portalRefused);
                return;
            }
            registration_->session = session;
            bindShortcut();
        });
}

void PortalHotKeyBackend::bindShortcut() {
    const QDBusObjectPath session(registration_->session);
    request(
        QStringLiteral("BindShortcuts"), {},
        [this, session, shortcut = shortcut()](const QVariantMap& options) {
            return portal_->BindShortcuts(session, {shortcut}, QString(), options);
        },
        [this](const QVariantMap& results) {
            const auto bound = shortcutsOf(results.value(QStringLiteral("shortcuts")));
            if (std::none_of(bound.begin(), bound.end(),
                             [](const PortalShortcut& each) { return each.id == shortcutId; })) {
                qCWarning(logShortcut) << "The desktop portal bound no shortcut";
                finish(HotKeyError::portalRefused);
                return;
            }
            finish(0);
        });
}

void PortalHotKeyBackend::request(const QString& method, QVariantMap options, const Call& call, Answer answer) {
    Registration* registration = registration_;
    // The portal answers on a Request object whose path is known before the call; listening there
    // first means that no answer can be missed.
    const QString token = nextToken();
    QString sender = bus_.baseService().mid(1);
    sender.replace('.', '_');
    const QString path = QStringLiteral("%1/request/%2/%3").arg(portalPath, sender, token);
    options.insert(QStringLiteral("handle_token"), token);
    auto* request = new OrgFreedesktopPortalRequestInterface(portalService, path, bus_, registration);
    registration->request = request;
    connect(
        request, &OrgFreedesktopPortalRequestInterface::Response, registration,
        [this, registration, request, method, answer = std::move(answer)](uint response, const QVariantMap& results) {
            if (registration_ != registration || registration->request != request) {
                return;
            }
            registration->request = nullptr;
            request->deleteLater();
            if (response != 0) {
                // 1: the user cancelled the portal's dialog; 2: the portal ended the call otherwise.
                qCWarning(logShortcut) << "The desktop portal answered" << method << "with response" << response;
                finish(HotKeyError::portalRefused);
                return;
            }
            answer(results);
        });
    auto* watcher = new QDBusPendingCallWatcher(call(options), request);
    connect(watcher, &QDBusPendingCallWatcher::finished, registration,
            [this, registration, method](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (registration_ == registration && finished->isError()) {
                    const QDBusError error = finished->error();
                    qCWarning(logShortcut)
                        << "The desktop portal's" << method << "failed:" << error.name() << error.message();
                    finish(isMissing(error) ? HotKeyError::portalUnavailable : HotKeyError::portalRefused);
                }
            });
}

void PortalHotKeyBackend::finish(std::int32_t status) {
    Registration* finished = std::exchange(registration_, nullptr);
    finished->timeout.stop();
    if (status == 0) {
        closeSession(sessionHandle_);
        sessionHandle_ = finished->session;
        id_ = finished->id;
    } else {
        withdraw(*finished);
    }
    // Later: this may run inside one of its signals.
    finished->deleteLater();
    reportRegistration(status);
}

void PortalHotKeyBackend::withdraw(Registration& registration) {
    if (registration.request) {
        registration.request->Close();
    }
    closeSession(registration.session);
}

void PortalHotKeyBackend::unregisterHotKey() {
    if (registration_) {
        withdraw(*registration_);
        std::exchange(registration_, nullptr)->deleteLater();
    }
    closeSession(sessionHandle_);
    sessionHandle_.clear();
}

void PortalHotKeyBackend::closeSession(const QString& handle) {
    if (!handle.isEmpty()) {
        bus_.send(QDBusMessage::createMethodCall(portalService, handle, sessionInterface, QStringLiteral("Close")));
    }
}

QString PortalHotKeyBackend::nextToken() { return QStringLiteral("harkwell%1").arg(++tokenCount_); }

} // namespace harkwell
