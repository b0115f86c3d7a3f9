#pragma once

// A desktop's notification server (org.freedesktop.Notifications) for the tests: it records what it
// is asked, as a server would receive it, and refuses on request. Register it on a private bus at
// DesktopNotifications::path, with ExportAllSlots.

#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <vector>

namespace harkwell::testing {

// What the server was asked: a notice ("Notify", with what it replaces) or "close".
struct NotificationRequest {
    QString method;
    uint id = 0;
    uint replaces = 0;
    QString appIcon;
    QString summary;
    QString body;
    QVariantMap hints;
    int timeout = 0;
};

class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    std::vector<NotificationRequest> requests;
    bool refuses = false;

public slots:
    uint Notify(const QString&, uint replaces, const QString& icon, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int timeout) {
        if (refuses) {
            sendErrorReply(QDBusError::AccessDenied, "inhibited");
        }
        const uint id = replaces != 0 ? replaces : uint(requests.size() + 1);
        requests.push_back({"Notify", id, replaces, icon, summary, body, hints, timeout});
        return id;
    }
    void CloseNotification(uint id) {
        NotificationRequest request;
        request.method = "close";
        request.id = id;
        requests.push_back(request);
    }
};

} // namespace harkwell::testing
