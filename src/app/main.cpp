// Harkwell: listens for the user's call phrases and switches their AirPods to Transparency.
//
//   harkwell                start the tray application, or open the running one's control panel
//   harkwell --toggle-mode  toggle the running instance between noise cancellation and transparency
//   harkwell --help         print the usage
//   harkwell --version      print the version
#include "airpods/AirPodsController.h"
#include "app/AppDelegate.h"
#include "app/SessionBusServices.h"
#include "app/SystemDependencies.h"
#include "locale/AppMetadata.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>

#include <cstring>
#include <iostream>

namespace {

constexpr const char* usage = R"(Usage: harkwell [--toggle-mode | --help | --version]

Harkwell sits in the system tray, listens for your call phrases and switches your AirPods to
Transparency when someone calls you.

  (no option)     start Harkwell, or open the control panel of the one already running
  --toggle-mode   toggle the running Harkwell's AirPods between noise cancellation and
                  transparency, as the global shortcut does
  --help          print this help and exit
  --version       print the version and exit

Environment: HARKWELL_PREVIEW_CALL_HUD=1 shows the call panel once and exits;
QT_LOGGING_RULES="harkwell.*=true" prints diagnostics to standard error.
)";

} // namespace

int main(int argc, char** argv) {
    using namespace harkwell;

    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::cout << usage;
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "harkwell " << appMetadataValue("HarkwellVersion").value_or("unknown") << '\n';
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--toggle-mode") == 0) {
        QCoreApplication application(argc, argv);
        return runToggleModeCommand(QDBusConnection::sessionBus(), std::cerr);
    }
    if (argc > 1) {
        if (argc == 2) {
            std::cerr << "harkwell: unknown option '" << argv[1] << "'\n\n" << usage;
        } else {
            std::cerr << "harkwell: takes one option at most\n\n" << usage;
        }
        return 64;
    }

    QApplication::setApplicationName(QStringLiteral("Harkwell"));
    QApplication::setOrganizationName(QStringLiteral("Harkwell"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.harkwell.Harkwell"));
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/harkwell/harkwell.svg")));

    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const bool preview = AppDelegate::isPreviewRequested(environment);
    QDBusConnection bus = QDBusConnection::sessionBus();
    // One Harkwell per session: a second launch opens the running one's panel and ends.
    if (!preview && isRunningInstanceOn(bus)) {
        if (openRunningInstancePanel(bus)) {
            return 0;
        }
        std::cerr << "Harkwell is already running but did not answer.\n";
        return 1;
    }

    AppDelegate delegate(makeSystemDependencies());
    if (!preview) {
        if (const auto failure = delegate.exportOn(bus)) {
            // Another instance took the name in the meantime: hand over to it.
            if (isRunningInstanceOn(bus) && openRunningInstancePanel(bus)) {
                return 0;
            }
            std::cerr << "Harkwell runs without its session-bus service: " << failure->toStdString() << '\n';
        }
        AirPodsController::removeStaleAnswerFiles();
    }
    delegate.applicationDidFinishLaunching(environment);
    return QApplication::exec();
}
