#pragma once

#include "shortcut/HotKeyBackend.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace harkwell {

// System-wide shortcuts on KDE Plasma through its own service, kglobalaccel on the session bus
// (org.kde.kglobalaccel, object /kglobalaccel, interface org.kde.KGlobalAccel), as KDE's own
// applications use it: registering declares Harkwell's one action (doRegister) and sets its
// combination (setShortcut), which the service answers with the keys it gave the action, none
// when another action holds them; presses come as the component's globalShortcutPressed. The
// answer comes later through the registration handler; a refusal puts the earlier combination
// back. Unregistering marks the action inactive, so that the keys do nothing while Harkwell is
// not running.
class KGlobalAccelHotKeyBackend : public QObject, public HotKeyBackend {
    Q_OBJECT

public:
    static inline const QString service = QStringLiteral("org.kde.kglobalaccel");
    static inline const QString componentName = QStringLiteral("harkwell");
    static inline const QString actionName = QStringLiteral("toggle-listening-mode");

    explicit KGlobalAccelHotKeyBackend(QDBusConnection bus);
    ~KGlobalAccelHotKeyBackend() override;

    // Whether kglobalaccel is on bus, running or to be started by it.
    static bool isAvailable(const QDBusConnection& bus);

    std::optional<std::int32_t> registerHotKey(const HotKeySetting& setting, HotKeyId id) override;
    void unregisterHotKey() override;

private slots:
    void onPressed(const QString& component, const QString& action, qlonglong timestamp);

private:
    // [component, action, component's name, action's name], as kglobalaccel names an action.
    QStringList actionId() const;
    void setKeys(const QList<int>& keys);

    QDBusConnection bus_;
    QList<int> keys_; // the combination in effect; empty when none is
    HotKeyId id_;
    // The registration waiting for kglobalaccel's answer: the keys asked for and the id.
    std::optional<std::pair<QList<int>, HotKeyId>> pending_;
    int generation_ = 0; // ends the wait of an abandoned registration
};

} // namespace harkwell
