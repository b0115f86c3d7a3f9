// A stand-in for BlueZ on a test bus: owns "org.bluez" and answers the object manager's
// GetManagedObjects with the devices named on the command line, in that order.
//
//   fake_bluez <bus address> [<object path>,<address>,<connected 0|1>,<uuid>[;<uuid>...]] ...
//
// Prints "ready" once it owns the name; runs until it is terminated.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>

namespace {

using InterfaceMap = QMap<QString, QVariantMap>;

struct ObjectManager final : QDBusVirtualObject {
    QStringList devices;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != "org.freedesktop.DBus.ObjectManager" || message.member() != "GetManagedObjects") {
            return false;
        }
        QDBusArgument objects;
        objects.beginMap(QMetaType::fromType<QDBusObjectPath>(), QMetaType::fromType<InterfaceMap>());
        objects.beginMapEntry();
        objects << QDBusObjectPath("/org/bluez/hci0")
                << InterfaceMap{{"org.bluez.Adapter1", QVariantMap{{"Powered", true}}}};
        objects.endMapEntry();
        for (const QString& device : devices) {
            const QStringList fields = device.split(',');
            objects.beginMapEntry();
            objects << QDBusObjectPath(fields.value(0))
                    << InterfaceMap{{"org.bluez.Device1", QVariantMap{{"Address", fields.value(1)},
                                                                      {"Alias", "Test device"},
                                                                      {"Connected", fields.value(2) == "1"},
                                                                      {"UUIDs", fields.value(3).split(';')}}}};
            objects.endMapEntry();
        }
        objects.endMap();
        connection.send(message.createReply(QVariant::fromValue(objects)));
        return true;
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    qDBusRegisterMetaType<InterfaceMap>();
    const QStringList arguments = application.arguments();
    QDBusConnection bus = QDBusConnection::connectToBus(arguments.value(1), "fake-bluez");
    ObjectManager objectManager;
    objectManager.devices = arguments.mid(2);
    if (!bus.isConnected() || !bus.registerVirtualObject("/", &objectManager) || !bus.registerService("org.bluez")) {
        std::fprintf(stderr, "fake_bluez cannot serve on the bus: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return application.exec();
}
