#include "shortcut/PortalHotKeyBackend.h"

#include "locale/AppLocale.h"
#include "shortcut/HotKeyError.h"
#include "shortcut/VirtualKeyCode.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QTimer>

namespace harkwell {
namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
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

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

PortalHotKeyBackend::PortalHotKeyBackend(QDBusConnection bus, std::chrono::milliseconds answerTimeout)
    : bus_(std::move(bus)), answerTimeout_(answerTimeout) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    // The slot's parameter types must be known by name before QtDBus looks the slot up.
    qRegisterMetaType<QDBusObjectPath>();
    isListening_ = bus_.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                                SLOT(handleActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
}

PortalHotKeyBackend::~PortalHotKeyBackend() {
    unregisterHotKey();
    bus_.disconnect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                    SLOT(handleActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
}

QString PortalHotKeyBackend::preferredTrigger(const HotKeySetting& setting) {
    QString trigger;
    if (setting.modifiers & carbon::control) {
        trigger += QStringLiteral("CTRL+");
    }
    if (setting.modifiers & carbon::option) {
        trigger += QStringLiteral("ALT+");
    }
    if (setting.modifiers & carbon::shift) {
        trigger += QStringLiteral("SHIFT+");
    }
    if (setting.modifiers & carbon::command) {
        trigger += QStringLiteral("LOGO+");
    }
    const auto key = virtualKeyFromCode(setting.keyCode);
    if (!key) {
        return {};
    }
    QString name = QString::fromLatin1(key->keysymName.data(), static_cast<qsizetype>(key->keysymName.size()));
    return trigger + (name.size() == 1 ? name.toUpper() : name);
}

PortalHotKeyBackend::Answer PortalHotKeyBackend::request(const QString& method, QList<QVariant> arguments) {
    // The portal answers on a Request object whose path is known before the call; listening
    // there first means no answer can be missed.
    const QString token = QStringLiteral("harkwell%1").arg(++requestCount_);
    QString sender = bus_.baseService().mid(1);
    sender.replace('.', '_');
    const QString requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    auto options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);

    response_.reset();
    bus_.connect(portalService, requestPath, requestInterface, QStringLiteral("Response"), this,
                 SLOT(handleResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    call.setArguments(arguments);

    QEventLoop loop;
    bool callFailed = false;
    QDBusPendingCallWatcher watcher(bus_.asyncCall(call));
    connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, [&] {
        if (watcher.isError()) {
            callFailed = true;
            loop.quit();
        }
    });
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    timeout.start(answerTimeout_);
    waitingLoop_ = &loop;
    loop.exec();
    waitingLoop_ = nullptr;
    bus_.disconnect(portalService, requestPath, requestInterface, QStringLiteral("Response"), this,
                    SLOT(handleResponse(uint, QVariantMap)));

    if (response_) {
        if (response_->first != 0) {
            return {HotKeyError::portalRefused, {}};
        }
        return {0, response_->second};
    }
    if (callFailed) {
        return {HotKeyError::portalUnavailable, {}};
    }
    return {HotKeyError::portalTimedOut, {}};
}

void PortalHotKeyBackend::handleResponse(uint response, const QVariantMap& results) {
    response_.emplace(response, results);
    if (waitingLoop_) {
        waitingLoop_->quit();
    }
}

std::int32_t PortalHotKeyBackend::registerHotKey(const HotKeySetting& setting, HotKeyId id) {
    if (waitingLoop_) {
        return HotKeyError::portalBusy; // called again from the event loop that waits for the portal
    }
    unregisterHotKey();
    if (!isListening_) {
        return HotKeyError::portalUnavailable; // presses would never arrive
    }
    const QString trigger = preferredTrigger(setting);
    if (trigger.isEmpty()) {
        return HotKeyError::keyNotOnKeyboard;
    }
    const QString sessionToken = QStringLiteral("harkwell%1").arg(requestCount_ + 1);
    const Answer created =
        request(QStringLiteral("CreateSession"), {QVariantMap{{QStringLiteral("session_handle_token"), sessionToken}}});
    if (created.status != 0) {
        return created.status;
    }
    const QString session = handleString(created.results.value(QStringLiteral("session_handle")));
    if (session.isEmpty()) {
        return HotKeyError::portalRefused;
    }

    const PortalShortcut shortcut{
        shortcutId,
        {{QStringLiteral("description"), uiText("AirPods 노이즈 캔슬링과 주변음 허용 전환",
                                                "Switch AirPods between noise cancellation and transparency")},
         {QStringLiteral("preferred_trigger"), trigger}}};
    const Answer bound = request(QStringLiteral("BindShortcuts"),
                                 {QVariant::fromValue(QDBusObjectPath(session)),
                                  QVariant::fromValue(QList<PortalShortcut>{shortcut}), QString(), QVariantMap()});
    const auto boundShortcuts = shortcutsOf(bound.results.value(QStringLiteral("shortcuts")));
    const bool isBound = std::any_of(boundShortcuts.begin(), boundShortcuts.end(),
                                     [](const PortalShortcut& each) { return each.id == shortcutId; });
    if (bound.status != 0 || !isBound) {
        sessionHandle_ = session;
        unregisterHotKey();
        return bound.status != 0 ? bound.status : HotKeyError::portalRefused;
    }
    sessionHandle_ = session;
    id_ = id;
    return 0;
}

void PortalHotKeyBackend::unregisterHotKey() {
    if (sessionHandle_.isEmpty()) {
        return;
    }
    bus_.send(QDBusMessage::createMethodCall(portalService, sessionHandle_, sessionInterface, QStringLiteral("Close")));
    sessionHandle_.clear();
}

void PortalHotKeyBackend::handleActivated(const QDBusObjectPath& sessionHandle, const QString& shortcut, qulonglong,
                                          const QVariantMap&) {
    if (!sessionHandle_.isEmpty() && sessionHandle.path() == sessionHandle_ && shortcut == shortcutId) {
        reportPress(id_);
    }
}

} // namespace harkwell
