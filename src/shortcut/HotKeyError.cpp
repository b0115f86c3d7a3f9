#include "shortcut/HotKeyError.h"

#include <QCoreApplication>

namespace harkwell {
namespace {

// X11's BadAccess: another client grabbed the combination first.
constexpr std::int32_t x11BadAccess = -10;

// What the user can do where the session lets no application register a shortcut.
const char* remedyOn(DesktopKind desktop) {
    switch (desktop) {
    case DesktopKind::gnome:
        return QT_TRANSLATE_NOOP("harkwell::HotKeyError",
                                 "Add it to GNOME's keyboard shortcuts with the button below.");
    case DesktopKind::sway:
        return QT_TRANSLATE_NOOP("harkwell::HotKeyError", "Add the line below to sway's config.");
    default:
        return QT_TRANSLATE_NOOP("harkwell::HotKeyError",
                                 "Bind harkwell --toggle-mode to it in the desktop's keyboard settings.");
    }
}

const char* reasonFor(std::int32_t status) {
    switch (status) {
    case HotKeyError::portalUnavailable:
    case HotKeyError::noShortcutService:
        return QT_TRANSLATE_NOOP("harkwell::HotKeyError", "This desktop does not let apps register shortcuts.");
    case x11BadAccess:
        return QT_TRANSLATE_NOOP("harkwell::HotKeyError",
                                 "Could not register the shortcut: another app already uses it.");
    case HotKeyError::keyNotOnKeyboard:
        return QT_TRANSLATE_NOOP("harkwell::HotKeyError",
                                 "Could not register the shortcut: the key is not on the current keyboard layout.");
    case HotKeyError::portalRefused:
        return QT_TRANSLATE_NOOP("harkwell::HotKeyError", "The desktop did not bind the shortcut.");
    case HotKeyError::portalTimedOut:
        return QT_TRANSLATE_NOOP("harkwell::HotKeyError", "The desktop did not answer in time about the shortcut.");
    case HotKeyError::portalBusy:
        return QT_TRANSLATE_NOOP("harkwell::HotKeyError",
                                 "The desktop is still asking about the shortcut recorded before.");
    default: // another X error
        return QT_TRANSLATE_NOOP("harkwell::HotKeyError", "Could not register the shortcut: the X server refused it.");
    }
}

QString translated(const char* text) { return QCoreApplication::translate("harkwell::HotKeyError", text); }

} // namespace

HotKeyError::HotKeyError(std::int32_t status, DesktopKind desktop)
    : status_(status), desktop_(desktop), what_(errorDescription()) {}

std::string HotKeyError::errorDescription() const {
    QString text = translated(reasonFor(status_));
    if (isUnsupported()) {
        text += u' ' + translated(remedyOn(desktop_));
    }
    return QStringLiteral("%1 (%2)").arg(text).arg(status_).toStdString();
}

} // namespace harkwell
