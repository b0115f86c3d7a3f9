#include "FakeKGlobalAccel.h"

#include <QDBusMessage>

namespace harkwell::testing {
namespace {

const QString service = QStringLiteral("org.kde.kglobalaccel");
const QString path = QStringLiteral("/kglobalaccel");

} // namespace

FakeKGlobalAccel::FakeKGlobalAccel(QDBusConnection bus) : bus_(std::move(bus)) {
    if (!bus_.registerObject(path, this, QDBusConnection::ExportAllSlots) || !bus_.registerService(service)) {
        qFatal("The fake kglobalaccel cannot serve on the test bus: %s", qPrintable(bus_.lastError().message()));
    }
}

FakeKGlobalAccel::~FakeKGlobalAccel() {
    bus_.unregisterService(service);
    bus_.unregisterObject(path);
}

void FakeKGlobalAccel::doRegister(const QStringList& actionId) { registered.push_back(actionId); }

QList<int> FakeKGlobalAccel::setShortcut(const QStringList&, const QList<int>& newKeys, uint) {
    keys.clear();
    for (const int key : newKeys) {
        if (!taken.contains(key)) {
            keys << key;
        }
    }
    isActive = true;
    return keys;
}

void FakeKGlobalAccel::setInactive(const QStringList&) { isActive = false; }

void FakeKGlobalAccel::press(const QString& component, const QString& action) {
    QDBusMessage signal = QDBusMessage::createSignal("/component/" + component, "org.kde.kglobalaccel.Component",
                                                     "globalShortcutPressed");
    signal << component << action << qlonglong(0);
    bus_.send(signal);
}

} // namespace harkwell::testing
