#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace harkwell {

// The desktops Harkwell knows the ways of; everything else is `other`.
enum class DesktopKind {
    gnome,
    kde,
    sway,
    other,
};

// Which session Harkwell runs in, read once at start. A Wayland session stays a Wayland session
// when Qt runs through Xwayland (QT_QPA_PLATFORM=xcb): windows still cannot be placed, and an X11
// key grab then fires only while another X11 window has the focus.
struct DesktopSession {
    bool isWayland = false;
    // Qt draws through Xwayland inside a Wayland session.
    bool isXwayland = false;
    DesktopKind desktop = DesktopKind::other;

    // X11 alone lets a window be placed, kept from the focus and a key combination be grabbed.
    bool isX11() const { return !isWayland; }

    bool operator==(const DesktopSession&) const = default;
};

// The session described by the environment (XDG_SESSION_TYPE, WAYLAND_DISPLAY,
// XDG_CURRENT_DESKTOP, SWAYSOCK) and Qt's platform plugin name ("xcb", "wayland", "offscreen"...).
DesktopSession desktopSessionFrom(const QProcessEnvironment& environment, const QString& platformName);

// The running process's session: its environment and QGuiApplication's platform.
DesktopSession currentDesktopSession();

} // namespace harkwell
