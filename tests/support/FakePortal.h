#pragma once

// A desktop portal with the GlobalShortcuts interface, for tests on a private bus.

#include "shortcut/PortalShortcut.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMap>
#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace harkwell::testing {

// The portal's sessions, all served by one object that records which were closed.
class FakePortalSessions : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")

public:
    QStringList closed;

public slots:
    void Close() { closed << message().path(); }
};

// The portal's Request objects, likewise: closing one withdraws its call.
class FakePortalRequests : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")

public:
    QStringList closed;

public slots:
    void Close() { closed << message().path(); }
};

// Answers like the real portal through Request objects, keeps the sessions it makes, and emits
// Activated on demand. With holdsAnswers, BindShortcuts' answer waits until releaseAnswer(), as
// while the desktop asks the user.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")

public:
    // How BindShortcuts answers: bind, refuse (response 2), answer success binding nothing, or
    // bind what CreateSession's "shortcuts" option held, ignoring its own list (KDE's portal 5.27).
    enum class BindAnswer { bind, refuse, bindNothing, sessionShortcuts };

    explicit FakePortal(QDBusConnection bus);
    ~FakePortal() override;

    BindAnswer bindAnswer = BindAnswer::bind;
    bool holdsAnswers = false;
    bool sessionHandleAsObjectPath = false; // older portals' form of CreateSession's result
    std::vector<QList<PortalShortcut>> bound;
    QStringList sessions;
    FakePortalSessions sessionObjects;
    FakePortalRequests requestObjects;

    // True while a BindShortcuts answer is held.
    bool isHoldingAnswer() const { return heldRequest_.has_value(); }
    // Sends the held BindShortcuts answer, as bindAnswer says now.
    void releaseAnswer();
    void activate(const QString& session);

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options);
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<harkwell::PortalShortcut>& shortcuts,
                                  const QString& parentWindow, const QVariantMap& options);

private:
    QString caller() const;
    // Replies with the Request object's path and returns it.
    QString reply(const QVariantMap& options);
    void respond(const QString& request, uint response, const QVariantMap& results);
    std::pair<uint, QVariantMap> bindResponse(const QString& session, const QList<PortalShortcut>& shortcuts) const;

    QDBusConnection bus_;
    struct HeldRequest {
        QString request;
        QString session;
        QList<PortalShortcut> shortcuts;
    };
    std::optional<HeldRequest> heldRequest_;
    // The "shortcuts" option each session was created with.
    QMap<QString, QList<PortalShortcut>> sessionShortcuts_;
};

} // namespace harkwell::testing
