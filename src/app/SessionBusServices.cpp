#include "app/SessionBusServices.h"

#include "airpods/AirPodsController.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QStringList>

namespace harkwell {

namespace {

// Longer than a helper command may take: its time-out and the grace after it.
constexpr auto switchAnswerTimeout =
    AirPodsController::defaultTimeout + AirPodsController::defaultTerminationGrace + std::chrono::seconds(5);

// Whether an error answering the request means that no Harkwell took it: none owns the name, or
// the one that owned it is quitting (its objects gone, or it left the bus without answering).
bool meansNotRunning(const QDBusConnection& bus, const QDBusMessage& reply) {
    static const QStringList goneErrors{
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
    };
    return goneErrors.contains(reply.errorName()) || !isRunningInstanceOn(bus);
}

// The message handler in place before quietQtWarnings.
QtMessageHandler handlerBefore = nullptr;

void passHarkwellsMessagesOnly(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (handlerBefore && context.category && QByteArrayView(context.category).startsWith("harkwell.")) {
        handlerBefore(type, context, message);
    }
}

} // namespace

ToggleModeService::ToggleModeService(std::function<void(Completion)> onToggle, QObject* parent)
    : QObject(parent), onToggle_(std::move(onToggle)) {}

std::optional<QString> ToggleModeService::exportOn(QDBusConnection bus) {
    if (!bus.isConnected()) {
        return "Cannot reach the session bus: " + bus.lastError().message();
    }
    if (!bus.registerObject(toggleModeBus::path, this, QDBusConnection::ExportAllSlots)) {
        return "Cannot export " + toggleModeBus::path + " on the session bus.";
    }
    if (!bus.registerService(toggleModeBus::service)) {
        bus.unregisterObject(toggleModeBus::path);
        return "Cannot own " + toggleModeBus::service + " on the session bus: " + bus.lastError().message();
    }
    return std::nullopt;
}

void ToggleModeService::ToggleAirPodsMode() {
    if (!onToggle_) {
        return;
    }
    if (!calledFromDBus()) {
        onToggle_([](const std::optional<QString>&) {});
        return;
    }
    // The answer waits for the switch.
    setDelayedReply(true);
    onToggle_([request = message(), bus = connection()](const std::optional<QString>& failure) mutable {
        bus.send(failure ? request.createErrorReply(toggleModeBus::switchFailedError, *failure)
                         : request.createReply());
    });
}

void quietQtWarnings() {
    const QtMessageHandler before = qInstallMessageHandler(passHarkwellsMessagesOnly);
    if (before != passHarkwellsMessagesOnly) {
        handlerBefore = before;
    }
}

int runToggleModeCommand(const QDBusConnection& bus, std::ostream& errors) {
    if (!bus.isConnected()) {
        errors << QCoreApplication::translate("ToggleModeCommand", "Cannot reach the session bus: %1")
                      .arg(bus.lastError().message())
                      .toStdString()
               << '\n';
        return 1;
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(toggleModeBus::service, toggleModeBus::path,
                                                             toggleModeBus::interface, toggleModeBus::method);
    // The answer is awaited in an event loop, so the instance may even live in this process (the
    // tests). A watcher, not QDBus::BlockWithGui: that one misses an answer which arrives while it
    // sets up its wait, and then waits for ever. The switch may take as long as the helper's
    // time-out; the bus answers with an error after switchAnswerTimeout.
    QDBusPendingCallWatcher answer(bus.asyncCall(call, int(switchAnswerTimeout.count())));
    if (!answer.isFinished()) {
        QEventLoop loop;
        QObject::connect(&answer, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    const QDBusMessage reply = answer.reply();
    if (reply.type() != QDBusMessage::ErrorMessage) {
        return 0;
    }
    if (reply.errorName() == toggleModeBus::switchFailedError) {
        errors << reply.errorMessage().toStdString() << '\n';
    } else if (meansNotRunning(bus, reply)) {
        errors << QCoreApplication::translate("ToggleModeCommand", "Harkwell is not running.").toStdString() << '\n';
    } else {
        errors << QCoreApplication::translate("ToggleModeCommand", "Harkwell did not take the request: %1")
                      .arg(reply.errorMessage())
                      .toStdString()
               << '\n';
    }
    return 1;
}

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

bool isRunningInstanceOn(const QDBusConnection& bus) {
    if (!bus.isConnected() || !bus.interface()) {
        return false;
    }
    const auto owner = bus.interface()->serviceOwner(toggleModeBus::service);
    return owner.isValid() && !owner.value().isEmpty() && owner.value() != bus.baseService();
}

bool openRunningInstancePanel(const QDBusConnection& bus) {
    if (!bus.isConnected()) {
        return false;
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(toggleModeBus::service, controlPanelBus::path,
                                                             controlPanelBus::interface, controlPanelBus::method);
    return bus.call(call, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage;
}

} // namespace harkwell
