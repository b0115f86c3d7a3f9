#pragma once

#include "shortcut/HotKeyBackend.h"
#include "shortcut/PortalShortcut.h"

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <chrono>
#include <functional>

class OrgFreedesktopPortalGlobalShortcutsInterface;

namespace harkwell {

// System-wide shortcuts under Wayland through the desktop portal (org.freedesktop.portal.Desktop,
// interface org.freedesktop.portal.GlobalShortcuts): registering creates a portal session and
// binds one shortcut in it with the setting as its preferred trigger ("CTRL+ALT+K"). The
// shortcut goes with CreateSession too (its "shortcuts" option), because KDE's portal before 6.1
// binds only those and ignores BindShortcuts' list. The
// portal's Activated signal for it is a press; unregistering closes the session. The portal may
// ask the user first, so registering returns at once and the outcome comes later through the
// registration handler: bound, refused, or timed out once answerTimeout has passed without an
// answer. The earlier session stays until the new one is bound. A registration started while
// another waits is refused as busy at once.
class PortalHotKeyBackend : public QObject, public HotKeyBackend {
    Q_OBJECT

public:
    static constexpr auto defaultAnswerTimeout = std::chrono::seconds(120);
    // The shortcut's identifier in the portal session.
    static inline const QString shortcutId = QStringLiteral("toggle-listening-mode");

    explicit PortalHotKeyBackend(QDBusConnection bus, std::chrono::milliseconds answerTimeout = defaultAnswerTimeout);
    ~PortalHotKeyBackend() override;

    std::optional<std::int32_t> registerHotKey(const HotKeySetting& setting, HotKeyId id) override;
    void unregisterHotKey() override;

private:
    class Registration;
    using Call = std::function<QDBusPendingCall(const QVariantMap& options)>;
    using Answer = std::function<void(const QVariantMap& results)>;

    void createSession();
    void bindShortcut();
    // The one shortcut of the waiting registration, as the portal takes it.
    PortalShortcut shortcut() const;
    // Makes a call that the portal answers through a Request object: call gets options with the
    // request's handle token added; answer gets the results of a successful Response.
    void request(const QString& method, QVariantMap options, const Call& call, Answer answer);
    // Ends the waiting registration and reports its outcome.
    void finish(std::int32_t status);
    // Withdraws what the registration made: its waiting call (closing the portal's dialog) and
    // its session.
    void withdraw(Registration& registration);
    void closeSession(const QString& handle);
    QString nextToken();

    QDBusConnection bus_;
    std::chrono::milliseconds answerTimeout_;
    OrgFreedesktopPortalGlobalShortcutsInterface* portal_; // a child
    QString sessionHandle_;                                // empty when nothing is registered
    HotKeyId id_;
    int tokenCount_ = 0;
    Registration* registration_ = nullptr; // the registration waiting for the portal, a child
};

} // namespace harkwell
