#include "desktop/DesktopNotifications.h"

#include "core/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <utility>

namespace harkwell {

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void DesktopNotifications::show(const DesktopNotice& notice) {
    // The replacement needs the number of the notice still on its way: it waits for the answer.
    if (awaitingAnswer_) {
        nextNotice_ = notice;
        closeWhenAnswered_ = false;
        return;
    }
    send(notice);
}

void DesktopNotifications::close() {
    if (awaitingAnswer_) {
        nextNotice_.reset();
        closeWhenAnswered_ = true;
        return;
    }
    if (shownId_ == 0) {
        return;
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                       QString::fromLatin1(interface), QStringLiteral("CloseNotification"));
    message << shownId_;
    shownId_ = 0;
    // The answer says nothing worth waiting for: a notice already gone is no error.
    bus_.send(message);
}

void DesktopNotifications::send(const DesktopNotice& notice) {
    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
                                                          QString::fromLatin1(interface), QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))},
        {QStringLiteral("transient"), true},
        {QStringLiteral("desktop-entry"), QString::fromLatin1(iconName)},
    };
    message << QString::fromLatin1(appName) << shownId_ << QString::fromLatin1(iconName) << notice.summary
            << notice.body << QStringList() << hints << qint32(notice.expireTimeoutMs);
    qCDebug(logDesktop) << "Notice" << notice.summary << "replacing" << shownId_;
    awaitingAnswer_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        if (reply.isError()) {
            qCWarning(logDesktop) << "The notification service did not show the notice:" << reply.error().message();
            sent(std::nullopt);
        } else {
            sent(reply.value());
        }
    });
}

void DesktopNotifications::sent(std::optional<uint> id) {
    awaitingAnswer_ = false;
    shownId_ = id.value_or(0);
    if (nextNotice_) {
        const DesktopNotice notice = *std::exchange(nextNotice_, std::nullopt);
        send(notice);
    } else if (std::exchange(closeWhenAnswered_, false)) {
        close();
    }
}

} // namespace harkwell
