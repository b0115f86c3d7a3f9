#include "shortcut/KGlobalAccelHotKeyBackend.h"

#include "core/Log.h"
#include "shortcut/HotKeyError.h"
#include "shortcut/KeyNotation.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <utility>

namespace harkwell {
namespace {

const QString path = QStringLiteral("/kglobalaccel");
const QString interface = QStringLiteral("org.kde.KGlobalAccel");
// kglobalaccel's setShortcut flags: the action is present (its application runs); do not load
// keys stored before in place of those given.
constexpr uint setPresent = 2;
constexpr uint noAutoloading = 4;

} // namespace

KGlobalAccelHotKeyBackend::KGlobalAccelHotKeyBackend(QDBusConnection bus) : bus_(std::move(bus)) {
    // Every component's object: the arguments tell Harkwell's action apart.
    bus_.connect(service, QString(), QStringLiteral("org.kde.kglobalaccel.Component"),
                 QStringLiteral("globalShortcutPressed"), this, SLOT(onPressed(QString, QString, qlonglong)));
}

KGlobalAccelHotKeyBackend::~KGlobalAccelHotKeyBackend() { unregisterHotKey(); }

bool KGlobalAccelHotKeyBackend::isAvailable(const QDBusConnection& bus) {
    const QDBusConnectionInterface* daemon = bus.interface();
    return daemon && (daemon->isServiceRegistered(service).value() ||
                      daemon->activatableServiceNames().value().contains(service));
}

QStringList KGlobalAccelHotKeyBackend::actionId() const {
    return {componentName, actionName, QStringLiteral("Harkwell"), hotKeyDescription()};
}

std::optional<std::int32_t> KGlobalAccelHotKeyBackend::registerHotKey(const HotKeySetting& setting, HotKeyId id) {
    if (pending_) {
        return HotKeyError::portalBusy;
    }
    const int keys = qtKeyCombination(setting);
    if (keys == 0) {
        return HotKeyError::keyNotOnKeyboard;
    }
    if (!bus_.isConnected()) {
        return HotKeyError::portalUnavailable;
    }
    pending_.emplace(QList<int>{keys}, id);
    bus_.send(QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("doRegister")) << actionId());
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("setShortcut"));
    call << actionId() << QVariant::fromValue(QList<int>{keys}) << (setPresent | noAutoloading);
    qCDebug(logShortcut) << "Asking kglobalaccel for the keys" << keys;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation = ++generation_](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (generation != generation_ || !pending_) {
                    return;
                }
                const auto [asked, pendingId] = *std::exchange(pending_, std::nullopt);
                const QDBusPendingReply<QList<int>> reply = *finished;
                if (reply.isError()) {
                    qCWarning(logShortcut)
                        << "kglobalaccel's setShortcut failed:" << reply.error().name() << reply.error().message();
                } else if (reply.value() == asked) {
                    keys_ = asked;
                    id_ = pendingId;
                    reportRegistration(0);
                    return;
                } else {
                    qCWarning(logShortcut) << "kglobalaccel set the keys" << reply.value() << "instead of" << asked;
                }
                // Another action holds the keys, or the call failed: the earlier combination stays.
                setKeys(keys_);
                reportRegistration(HotKeyError::portalRefused);
            });
    return std::nullopt;
}

void KGlobalAccelHotKeyBackend::setKeys(const QList<int>& keys) {
    if (keys.isEmpty()) {
        bus_.send(QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("setInactive"))
                  << actionId());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("setShortcut"));
    call << actionId() << QVariant::fromValue(keys) << (setPresent | noAutoloading);
    bus_.send(call);
}

void KGlobalAccelHotKeyBackend::unregisterHotKey() {
    ++generation_;
    const bool wasPending = std::exchange(pending_, std::nullopt).has_value();
    if (!keys_.isEmpty() || wasPending) {
        keys_.clear();
        setKeys({});
    }
}

void KGlobalAccelHotKeyBackend::onPressed(const QString& component, const QString& action, qlonglong) {
    if (component == componentName && action == actionName && !keys_.isEmpty()) {
        reportPress(id_);
    }
}

} // namespace harkwell
