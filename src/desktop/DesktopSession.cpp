#include "desktop/DesktopSession.h"

#include <QGuiApplication>

namespace harkwell {
namespace {

DesktopKind desktopKindFrom(const QProcessEnvironment& environment) {
    // XDG_CURRENT_DESKTOP is a colon-separated list, the most specific name first ("ubuntu:GNOME").
    const QStringList names =
        environment.value(QStringLiteral("XDG_CURRENT_DESKTOP")).toLower().split(u':', Qt::SkipEmptyParts);
    for (const QString& name : names) {
        if (name == u"gnome" || name == u"gnome-classic") {
            return DesktopKind::gnome;
        }
        if (name == u"kde") {
            return DesktopKind::kde;
        }
        if (name == u"sway") {
            return DesktopKind::sway;
        }
    }
    if (environment.contains(QStringLiteral("SWAYSOCK"))) {
        return DesktopKind::sway;
    }
    return DesktopKind::other;
}

} // namespace

DesktopSession desktopSessionFrom(const QProcessEnvironment& environment, const QString& platformName) {
    DesktopSession session;
    session.desktop = desktopKindFrom(environment);
    const bool nativeWayland = platformName.startsWith(QStringLiteral("wayland"));
    const bool waylandSession = nativeWayland ||
                                environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QStringLiteral("wayland") ||
                                !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
    session.isWayland = waylandSession;
    session.isXwayland = waylandSession && platformName == QStringLiteral("xcb");
    return session;
}

DesktopSession currentDesktopSession() {
    return desktopSessionFrom(QProcessEnvironment::systemEnvironment(), QGuiApplication::platformName());
}

} // namespace harkwell
