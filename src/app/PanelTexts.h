#pragma once

#include "locale/AppLanguage.h"

#include <QString>

namespace harkwell {

// One text of the interface: its English source, which the translations are looked up by.
struct PanelText {
    const char* source;
    // Tells apart the same English word meaning different things (both "Off"s).
    const char* disambiguation = nullptr;

    // The text in the interface language.
    QString text() const;
    QString text(AppLocale locale) const;
};

// Every text the control panel and the tray icon show, in one place: the panel shows them from
// here, and the tests compare what the panel shows with these.
namespace panelTexts {

inline constexpr PanelText quit{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Quit")};

// The permission screen.
inline constexpr PanelText permissionTitle{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Set up permissions once.")};
inline constexpr PanelText permissionExplanation{QT_TRANSLATE_NOOP(
    "harkwell::panelTexts", "Allow Microphone, Speech Recognition, and Bluetooth access to start using Harkwell.")};
inline constexpr PanelText permissionButton{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Set Up Permissions")};

// The main controls.
inline constexpr PanelText detection{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Call Detection")};
inline constexpr PanelText sensitivityTitle{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Sensitivity")};
inline constexpr PanelText sensitivityLow{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Low")};
inline constexpr PanelText sensitivityMedium{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Medium")};
inline constexpr PanelText sensitivityHigh{QT_TRANSLATE_NOOP("harkwell::panelTexts", "High")};
// Under the picker while Low is chosen.
inline constexpr PanelText sensitivityLowHint{
    QT_TRANSLATE_NOOP("harkwell::panelTexts", "Low: only when someone speaks to you")};
inline constexpr PanelText returnTitle{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Back to noise cancellation")};
inline constexpr PanelText returnOff = QT_TRANSLATE_NOOP3("harkwell::panelTexts", "Off", "return after a call");
// %1: seconds.
inline constexpr PanelText returnAfter{QT_TRANSLATE_NOOP("harkwell::panelTexts", "After %1 s")};
inline constexpr PanelText returnPending{
    QT_TRANSLATE_NOOP("harkwell::panelTexts", "Back to noise cancellation in %1 s")};
inline constexpr PanelText mediaTitle{QT_TRANSLATE_NOOP("harkwell::panelTexts", "When someone calls")};
// In the order of mediaOnCallChoices.
inline constexpr PanelText mediaPause{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Pause media")};
inline constexpr PanelText mediaLower{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Lower media")};
inline constexpr PanelText mediaLeave{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Leave media")};
inline constexpr PanelText recentCallsTitle{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Recent calls")};
// One call heard. %1: its time; %2: the call phrase; %3: the words heard around it.
inline constexpr PanelText recentCall{QT_TRANSLATE_NOOP("harkwell::panelTexts", "%1 · %2: “%3”")};
inline constexpr PanelText microphoneTitle{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Microphone")};
inline constexpr PanelText microphoneAutomatic{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Automatic (built-in)")};
// After a Bluetooth input's description.
inline constexpr PanelText bluetoothMark{
    QT_TRANSLATE_NOOP("harkwell::panelTexts", "(switches the AirPods to headset mode)")};
// %1: the description of the input listening uses instead of the chosen one.
inline constexpr PanelText microphoneFallback{
    QT_TRANSLATE_NOOP("harkwell::panelTexts", "Microphone not connected: listening on %1")};
// %1: the Bluetooth input's description.
inline constexpr PanelText bluetoothQuestion{
    QT_TRANSLATE_NOOP("harkwell::panelTexts",
                      "Use %1? While Harkwell listens on it, the AirPods switch to headset mode and sound worse.")};
inline constexpr PanelText bluetoothConfirm{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Use")};
inline constexpr PanelText bluetoothCancel{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Cancel")};
inline constexpr PanelText inputLevel{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Input level")};
inline constexpr PanelText phrasesTitle{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Call Phrases")};
// %1: how many phrases listening uses.
inline constexpr PanelText phraseCount{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Active: %1")};
// Instead while there are more phrases than listening takes. %1: how many it uses; %2: how many there are.
inline constexpr PanelText phraseCountLimited{
    QT_TRANSLATE_NOOP("harkwell::panelTexts", "Listening for the first %1 of %2 phrases")};
inline constexpr PanelText phrasePlaceholder{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Ann, James, Mr Smith")};
inline constexpr PanelText addPhrase{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Add call phrase")};
inline constexpr PanelText removePhrase{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Remove call phrase")};
// Beside a phrase of the list that listening cannot hear (its tooltip says why).
inline constexpr PanelText phraseNotHeard{QT_TRANSLATE_NOOP("harkwell::panelTexts", "not heard")};
inline constexpr PanelText noPhrases{
    QT_TRANSLATE_NOOP("harkwell::panelTexts", "Add a call phrase to start detection.")};
inline constexpr PanelText modeTitle{QT_TRANSLATE_NOOP("harkwell::panelTexts", "AirPods Mode")};
inline constexpr PanelText modeAnc{QT_TRANSLATE_NOOP("harkwell::panelTexts", "ANC")};
inline constexpr PanelText modeTransparency{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Transparency")};
inline constexpr PanelText modeOff = QT_TRANSLATE_NOOP3("harkwell::panelTexts", "Off", "AirPods mode");
inline constexpr PanelText shortcutTitle{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Shortcut")};
inline constexpr PanelText shortcutRecording{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Recording")};
inline constexpr PanelText shortcutNone{QT_TRANSLATE_NOOP("harkwell::panelTexts", "None")};
inline constexpr PanelText recordShortcut{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Record")};
inline constexpr PanelText cancelRecording{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Cancel")};
inline constexpr PanelText clearShortcut{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Clear")};
inline constexpr PanelText bindInGnomeSettings{
    QT_TRANSLATE_NOOP("harkwell::panelTexts", "Add to GNOME Keyboard Shortcuts")};
inline constexpr PanelText startAtLogin{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Start at login")};
inline constexpr PanelText listenAtStart{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Listen when Harkwell starts")};

// The tray icon's tooltip, after "Harkwell: ". %1: how many call phrases listening uses.
inline constexpr PanelText listeningForOne{QT_TRANSLATE_NOOP("harkwell::panelTexts", "listening for %1 call phrase")};
inline constexpr PanelText listeningForMany{QT_TRANSLATE_NOOP("harkwell::panelTexts", "listening for %1 call phrases")};
inline constexpr PanelText notListening{QT_TRANSLATE_NOOP("harkwell::panelTexts", "not listening")};
// After the listening text while the AirPods are in Transparency because of a call.
inline constexpr PanelText transparencyAfterCall{
    QT_TRANSLATE_NOOP("harkwell::panelTexts", "; AirPods in Transparency after a call")};
// The tray icon's menu, where the desktop shows one (GNOME opens it on a click).
inline constexpr PanelText openHarkwell{QT_TRANSLATE_NOOP("harkwell::panelTexts", "Open Harkwell")};
// At the top of the control panel while the desktop shows no tray icon.
inline constexpr PanelText noTrayOnGnome{QT_TRANSLATE_NOOP(
    "harkwell::panelTexts", "This desktop shows no tray icon. Turn on GNOME's AppIndicator extension "
                            "(gnome-shell-extension-appindicator) to get Harkwell's icon; until then, start Harkwell "
                            "again to open this panel.")};
inline constexpr PanelText noTray{QT_TRANSLATE_NOOP(
    "harkwell::panelTexts", "This desktop shows no tray icon. A panel with a system tray (StatusNotifierItem) shows "
                            "Harkwell's icon; until then, start Harkwell again to open this panel.")};

} // namespace panelTexts
} // namespace harkwell
