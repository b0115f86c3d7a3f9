#include "desktop/DesktopSession.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace harkwell {
namespace {

TEST(DesktopSessionTest, TellsTheSessionFromTheEnvironmentAndThePlatform) {
    using Variables = std::vector<std::pair<const char*, const char*>>;
    struct Case {
        const char* name;
        Variables variables;
        const char* platform;
        DesktopSession expected;
    };
    const std::vector<Case> cases = {
        {"X11",
         {{"XDG_SESSION_TYPE", "x11"}, {"XDG_CURRENT_DESKTOP", "XFCE"}},
         "xcb",
         {false, false, DesktopKind::other}},
        {"GNOME on Wayland",
         {{"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "GNOME"}},
         "wayland",
         {true, false, DesktopKind::gnome}},
        {"Ubuntu's GNOME names itself first",
         {{"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}, {"WAYLAND_DISPLAY", "w"}},
         "wayland",
         {true, false, DesktopKind::gnome}},
        {"Plasma through Xwayland",
         {{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "KDE"}},
         "xcb",
         {true, true, DesktopKind::kde}},
        {"sway without XDG_CURRENT_DESKTOP",
         {{"WAYLAND_DISPLAY", "wayland-1"}, {"SWAYSOCK", "/run/sway.sock"}},
         "wayland",
         {true, false, DesktopKind::sway}},
        {"GNOME on X11",
         {{"XDG_SESSION_TYPE", "x11"}, {"XDG_CURRENT_DESKTOP", "GNOME"}},
         "xcb",
         {false, false, DesktopKind::gnome}},
        {"an empty WAYLAND_DISPLAY is no Wayland",
         {{"WAYLAND_DISPLAY", ""}},
         "xcb",
         {false, false, DesktopKind::other}},
        {"offscreen, nothing set", {}, "offscreen", {false, false, DesktopKind::other}},
    };
    for (const Case& c : cases) {
        QProcessEnvironment environment;
        for (const auto& [name, value] : c.variables) {
            environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
        }
        EXPECT_EQ(desktopSessionFrom(environment, QString::fromLatin1(c.platform)), c.expected) << c.name;
    }
}

} // namespace
} // namespace harkwell
