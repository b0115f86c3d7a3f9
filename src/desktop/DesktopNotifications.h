#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>

namespace harkwell {

// A short notice for the desktop to show: a title, a line of text, and how long it stays.
struct DesktopNotice {
    QString summary;
    QString body;
    int expireTimeoutMs = -1;

    bool operator==(const DesktopNotice&) const = default;
};

// Where the notices of one kind go. Each notice takes the place of the one before it.
class NoticeSink {
public:
    virtual ~NoticeSink() = default;
    // Shows notice in place of the one shown before, if that is still on screen.
    virtual void show(const DesktopNotice& notice) = 0;
    // Takes the notice shown last off the screen, if it is still there.
    virtual void close() = 0;
};

// The desktop's notification service (org.freedesktop.Notifications on the session bus): what
// GNOME Shell, Plasma, mako and dunst draw, without taking the keyboard focus. Notices carry
// Harkwell's icon and desktop entry, normal urgency (GNOME shows no banner for a low one) and the
// transient hint, so they leave the history when they leave the screen. Nothing here waits for
// the service: calls are sent and their answers come back to the main thread; a service that is
// missing or answers with an error is logged, and the next notice tries again.
class DesktopNotifications final : public QObject, public NoticeSink {
public:
    static constexpr const char* service = "org.freedesktop.Notifications";
    static constexpr const char* path = "/org/freedesktop/Notifications";
    static constexpr const char* interface = "org.freedesktop.Notifications";
    static constexpr const char* appName = "Harkwell";
    static constexpr const char* iconName = "io.github.harkwell.Harkwell";

    explicit DesktopNotifications(QDBusConnection bus, QObject* parent = nullptr);

    void show(const DesktopNotice& notice) override;
    void close() override;

private:
    void send(const DesktopNotice& notice);
    void sent(std::optional<uint> id);

    QDBusConnection bus_;
    // The service's number for the notice shown last, which the next one replaces; 0 for none.
    uint shownId_ = 0;
    bool awaitingAnswer_ = false;
    // What was asked while a notice was still on its way: the newest notice, or to close it.
    std::optional<DesktopNotice> nextNotice_;
    bool closeWhenAnswered_ = false;
};

} // namespace harkwell
