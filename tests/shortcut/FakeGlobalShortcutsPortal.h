#pragma once

#include "shortcut/PortalHotKeyBackend.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace harkwell::testing {

// A desktop portal with the GlobalShortcuts interface, on a test's private bus: answers like the
// real one through Request objects, keeps sessions that can be closed, and emits Activated on
// demand.
class FakeGlobalShortcutsPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")

public:
    // How BindShortcuts answers: bind the shortcuts, refuse (response 2), answer success without
    // binding anything, or never answer.
    enum class BindAnswer { bind, refuse, bindNothing, silent };

    explicit FakeGlobalShortcutsPortal(QDBusConnection bus);
    // Leaves the bus, giving up the portal's name.
    ~FakeGlobalShortcutsPortal() override;
    bool isReady() const { return isReady_; }

    BindAnswer bindAnswer = BindAnswer::bind;
    bool sessionHandleAsObjectPath = false; // older portals' form of CreateSession's result
    std::function<void()> onBind;           // called at each BindShortcuts, before it answers

    std::vector<QList<PortalShortcut>> boundShortcuts; // each BindShortcuts call's shortcuts
    QStringList sessions;                              // created session handles, in order
    QStringList closedSessions;

    void activate(const QString& session, const QString& shortcutId);

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options);
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<harkwell::PortalShortcut>& shortcuts,
                                  const QString& parentWindow, const QVariantMap& options);

private:
    QString senderPathElement() const;
    QDBusObjectPath answer(const QVariantMap& options, std::optional<std::pair<uint, QVariantMap>> response);

    QDBusConnection bus_;
    bool isReady_ = false;
    std::vector<std::unique_ptr<QObject>> sessionObjects_;
};

} // namespace harkwell::testing
