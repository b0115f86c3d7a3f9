#include "shortcut/HotKeyBackend.h"

#include "shortcut/HotKeyError.h"
#include "shortcut/KGlobalAccelHotKeyBackend.h"
#include "shortcut/PortalHotKeyBackend.h"
#include "shortcut/X11HotKeyBackend.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace harkwell {
namespace {

// A session without any global-shortcut mechanism: every registration is refused.
class UnavailableHotKeyBackend : public HotKeyBackend {
public:
    std::optional<std::int32_t> registerHotKey(const HotKeySetting&, HotKeyId) override {
        return HotKeyError::noShortcutService;
    }
    void unregisterHotKey() override {}
};

} // namespace

QString hotKeyDescription() {
    return QCoreApplication::translate("harkwell::HotKeyBackend",
                                       "Switch AirPods between noise cancellation and transparency");
}

std::unique_ptr<HotKeyBackend> makeHotKeyBackend(const DesktopSession& session) {
    if (session.isWayland) {
        // KDE's portal before 6.1 binds shortcuts only half-way (see PortalHotKeyBackend); its own
        // service does what is asked.
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (session.desktop == DesktopKind::kde && KGlobalAccelHotKeyBackend::isAvailable(bus)) {
            return std::make_unique<KGlobalAccelHotKeyBackend>(bus);
        }
        return std::make_unique<PortalHotKeyBackend>(bus);
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
        if (connection) {
            const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
            return std::make_unique<X11HotKeyBackend>(connection, screen->root);
        }
    }
    return std::make_unique<UnavailableHotKeyBackend>();
}

} // namespace harkwell
