#include "app/ControlPanelService.h"

#include "shortcut/ToggleModeService.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace harkwell {

ControlPanelService::ControlPanelService(std::function<void()> onOpen, QObject* parent)
    : QObject(parent), onOpen_(std::move(onOpen)) {}

bool ControlPanelService::exportOn(QDBusConnection bus) {
    return bus.isConnected() && bus.registerObject(controlPanelBus::path, this, QDBusConnection::ExportAllSlots);
}

void ControlPanelService::Open() {
    if (onOpen_) {
        onOpen_();
    }
}

bool isRunningInstanceOn(QDBusConnection bus) {
    if (!bus.isConnected() || !bus.interface()) {
        return false;
    }
    const auto owner = bus.interface()->serviceOwner(toggleModeBus::service);
    return owner.isValid() && !owner.value().isEmpty() && owner.value() != bus.baseService();
}

bool openRunningInstancePanel(QDBusConnection bus) {
    if (!bus.isConnected()) {
        return false;
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(toggleModeBus::service, controlPanelBus::path,
                                                             controlPanelBus::interface, controlPanelBus::method);
    return bus.call(call, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage;
}

} // namespace harkwell
