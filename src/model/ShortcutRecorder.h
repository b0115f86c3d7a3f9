#pragma once

#include "core/OwnerContext.h"
#include "model/KeyEventMonitor.h"
#include "model/SettingsStore.h"
#include "shortcut/HotKeyController.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace harkwell {

// The global shortcut: the one stored and shown, its registration with the desktop, and recording
// a new one from the key presses the application receives. A refusal, of the stored shortcut at
// launch or of a recorded one, leaves the shortcut from before shown and stored (and in effect,
// when it was), so that the user sees which one failed and the next launch tries it again. Where
// the session lets no application register a shortcut (GNOME before 48, sway), the recorded
// combination is kept all the same, for the desktop's own settings, and the note under it says
// so with the way out: GNOME's button, sway's config line. Main thread only; every published
// value notifies on each assignment, changed or not.
class ShortcutRecorder : public QObject {
    Q_OBJECT

public:
    // settings: where the shortcut is stored; it outlives the recorder.
    ShortcutRecorder(std::unique_ptr<HotKeyController> controller, std::unique_ptr<KeyEventMonitor> keyMonitor,
                     SettingsStore& settings, QObject* parent = nullptr);
    // Key presses reach the application again, and presses of the shortcut go nowhere.
    ~ShortcutRecorder() override;

    // What the banner says about the shortcut: a message, or none when the one shown is over.
    std::function<void(const std::optional<QString>& message)> onMessage;
    // Each press of the shortcut, on the main thread.
    std::function<void()> onPressed;

    // Shows the stored shortcut and starts registering it; a refusal, now or once the desktop
    // answers, goes to onMessage.
    void registerStored();

    const std::optional<HotKeySetting>& setting() const { return setting_; }
    // The shortcut's display name, or empty without one.
    QString displayName() const;
    bool isRecording() const { return isRecording_; }
    // Where the session lets no application register the shortcut: the refusal's message with the
    // way out, or once the shortcut is bound in the desktop's settings, that it is; else empty.
    // Changes with settingChanged.
    const QString& desktopNote() const { return desktopNote_; }
    // The shortcut can be bound in the desktop's own keyboard settings (GNOME's), as it must be.
    bool canBindInDesktopSettings() const;
    // The line of sway's config that binds the shortcut, where it must be bound there; else empty.
    QString desktopConfigLine() const;

    // The next key pressed together with a modifier becomes the shortcut once the desktop agrees;
    // Escape ends recording, a key without a modifier is refused with a message.
    void start();
    // Ends recording and the message shown.
    void cancel();
    // Ends recording, unregisters the shortcut, removes it from the desktop's settings where the
    // panel put it there, and forgets it.
    void clear();
    // Ends recording, leaving the message as it is.
    void stop();
    // Binds the shortcut in the desktop's own keyboard settings to `harkwell --toggle-mode`, in
    // place of what this bound there before; the note then says so, the banner why not.
    void bindInDesktopSettings();

signals:
    void settingChanged();
    void isRecordingChanged();

private:
    void capture(const QKeyEvent& event);
    // Publishes setting and the note of a registration's outcome.
    void assignOutcome(std::optional<HotKeySetting> setting, const std::optional<HotKeyError>& refusal);
    // The note once setting is bound in the desktop's settings.
    static QString boundNote(const HotKeySetting& setting);
    void say(const std::optional<QString>& message);
    std::optional<HotKeySetting> loadSetting() const;
    void saveSetting(const HotKeySetting& setting);
    void assignSetting(std::optional<HotKeySetting> setting);
    void assignRecording(bool recording);

    std::unique_ptr<HotKeyController> controller_;
    std::unique_ptr<KeyEventMonitor> keyMonitor_;
    SettingsStore& settings_;
    std::optional<HotKeySetting> setting_;
    bool isRecording_ = false;
    QString desktopNote_;
    bool isMonitoringKeys_ = false;
    // Last, so that it goes first: a press or a desktop answer that comes later does nothing.
    OwnerContext owner_;
};

} // namespace harkwell
