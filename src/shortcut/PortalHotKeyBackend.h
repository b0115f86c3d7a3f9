#pragma once

#include "shortcut/HotKeyBackend.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <optional>

namespace harkwell {

// One shortcut as the GlobalShortcuts portal takes and returns it: D-Bus (sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

// System-wide shortcuts under Wayland through the desktop portal (org.freedesktop.portal.Desktop,
// interface org.freedesktop.portal.GlobalShortcuts): registering creates a portal session and
// binds one shortcut in it with the setting as its preferred trigger ("CTRL+ALT+K"); the
// portal's Activated signal for it is a press; unregistering closes the session. The portal may
// ask the user, so registration waits for its answer in a local event loop, for at most
// answerTimeout.
class PortalHotKeyBackend : public QObject, public HotKeyBackend {
    Q_OBJECT

public:
    static constexpr auto defaultAnswerTimeout = std::chrono::seconds(120);
    // The shortcut's identifier in the portal session.
    static inline const QString shortcutId = QStringLiteral("toggle-listening-mode");

    explicit PortalHotKeyBackend(QDBusConnection bus, std::chrono::milliseconds answerTimeout = defaultAnswerTimeout);
    ~PortalHotKeyBackend() override;

    std::int32_t registerHotKey(const HotKeySetting& setting, HotKeyId id) override;
    void unregisterHotKey() override;

    // The portal's form of the setting's combination: "CTRL+ALT+K", "SHIFT+LOGO+Up".
    static QString preferredTrigger(const HotKeySetting& setting);

private slots:
    void handleActivated(const QDBusObjectPath& sessionHandle, const QString& shortcut, qulonglong timestamp,
                         const QVariantMap& options);
    void handleResponse(uint response, const QVariantMap& results);

private:
    struct Answer {
        std::int32_t status = 0; // 0, or the HotKeyError status of the failure
        QVariantMap results;
    };
    Answer request(const QString& method, QList<QVariant> arguments);

    QDBusConnection bus_;
    std::chrono::milliseconds answerTimeout_;
    QString sessionHandle_; // empty when nothing is registered
    HotKeyId id_;
    int requestCount_ = 0;
    std::optional<std::pair<uint, QVariantMap>> response_; // the answer the pending request got
    QEventLoop* waitingLoop_ = nullptr;                    // the loop waiting for it
};

} // namespace harkwell

Q_DECLARE_METATYPE(harkwell::PortalShortcut)
