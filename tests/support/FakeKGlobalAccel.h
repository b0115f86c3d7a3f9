#pragma once

// KDE's global shortcut service, kglobalaccel, for tests on a private bus.

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QStringList>

#include <vector>

namespace harkwell::testing {

// Serves org.kde.KGlobalAccel at /kglobalaccel: records the actions' keys and gives none for
// keys in taken, as kglobalaccel does for keys another action holds.
class FakeKGlobalAccel : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.KGlobalAccel")

public:
    explicit FakeKGlobalAccel(QDBusConnection bus);
    ~FakeKGlobalAccel() override;

    QList<int> taken;
    std::vector<QStringList> registered; // each doRegister's action id
    QList<int> keys;                     // the action's keys, as last set
    bool isActive = false;

    // Emits the component's globalShortcutPressed for action.
    void press(const QString& component, const QString& action);

public slots:
    void doRegister(const QStringList& actionId);
    QList<int> setShortcut(const QStringList& actionId, const QList<int>& keys, uint flags);
    void setInactive(const QStringList& actionId);

private:
    QDBusConnection bus_;
};

} // namespace harkwell::testing
