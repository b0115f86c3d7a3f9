#include "BluezDiscovery.h"

#include "RelayFailure.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

#include <algorithm>

namespace harkwell::relay {

namespace {

using InterfaceMap = QMap<QString, QVariantMap>;

QStringList stringListOf(const QVariant& value) {
    if (value.canConvert<QDBusArgument>()) {
        QStringList list;
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentSignature() == QLatin1String("as")) {
            argument >> list;
        }
        return list;
    }
    return value.toStringList();
}

bool isAirPods(const QVariantMap& device) {
    if (!device.value("Connected").toBool()) {
        return false;
    }
    const QStringList uuids = stringListOf(device.value("UUIDs"));
    return std::any_of(uuids.begin(), uuids.end(), [](const QString& uuid) {
        return uuid.compare(QLatin1String(airPodsServiceUuid), Qt::CaseInsensitive) == 0;
    });
}

[[noreturn]] void throwBluezError(const QDBusMessage& reply) {
    static const QStringList absent{"org.freedesktop.DBus.Error.ServiceUnknown",
                                    "org.freedesktop.DBus.Error.NameHasNoOwner", "org.freedesktop.DBus.Error.NoServer",
                                    "org.freedesktop.DBus.Error.Disconnected",
                                    "org.freedesktop.DBus.Error.Spawn.ServiceNotFound"};
    if (absent.contains(reply.errorName())) {
        throw RelayFailure(helperExitCode::failure, bluezUnavailableMessage);
    }
    throw RelayFailure(helperExitCode::failure, "Bluetooth is not available: BlueZ did not answer (" +
                                                    reply.errorMessage().toStdString() + ").");
}

} // namespace

std::vector<BluetoothDevice> findConnectedAirPods(const QDBusConnection& bus, std::chrono::milliseconds timeout) {
    if (!bus.isConnected()) {
        throw RelayFailure(helperExitCode::failure, bluezUnavailableMessage);
    }
    const QDBusMessage call =
        QDBusMessage::createMethodCall("org.bluez", "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
    const QDBusMessage reply = bus.call(call, QDBus::Block, static_cast<int>(timeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        throwBluezError(reply);
    }
    if (reply.signature() != QLatin1String("a{oa{sa{sv}}}")) {
        throw RelayFailure(helperExitCode::failure,
                           "Bluetooth is not available: BlueZ gave an answer of an unknown form.");
    }

    std::vector<BluetoothDevice> devices;
    const QDBusArgument objects = reply.arguments().at(0).value<QDBusArgument>();
    objects.beginMap();
    while (!objects.atEnd()) {
        QDBusObjectPath path;
        InterfaceMap interfaces;
        objects.beginMapEntry();
        objects >> path >> interfaces;
        objects.endMapEntry();
        const auto device = interfaces.constFind("org.bluez.Device1");
        if (device != interfaces.constEnd() && isAirPods(*device)) {
            devices.push_back({path.path().toStdString(), device->value("Address").toString().toStdString(),
                               device->value("Alias", device->value("Name")).toString().toStdString()});
        }
    }
    objects.endMap();
    std::sort(devices.begin(), devices.end(),
              [](const BluetoothDevice& a, const BluetoothDevice& b) { return a.objectPath < b.objectPath; });
    return devices;
}

} // namespace harkwell::relay
