// Harkwell: listens for the user's call phrases and switches their AirPods to Transparency.
//
//   harkwell                start the tray application, or open the running one's control panel
//   harkwell --whisper-model PATH
//                           the same, listening with the whisper.cpp model file at PATH
//   harkwell --toggle-mode  toggle the running instance between noise cancellation and transparency
//   harkwell --help         print the usage
//   harkwell --version      print the version
#include "airpods/AirPodsController.h"
#include "app/AppDelegate.h"
#include "app/SessionBusServices.h"
#include "app/SystemDependencies.h"
#include "app/TerminationSignals.h"
#include "core/Log.h"
#include "locale/AppMetadata.h"
#include "speech/WhisperModel.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>

#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr const char* usage = R"(Usage: harkwell [--whisper-model PATH]
       harkwell --toggle-mode | --help | --version

Harkwell sits in the system tray, listens for your call phrases and switches your AirPods to
Transparency when someone calls you.

  (no option)           start Harkwell, or open the control panel of the one already running
  --whisper-model PATH  start Harkwell with the whisper.cpp model file at PATH for accurate
                        recognition instead of the installed one (a Harkwell already running
                        keeps its own)
  --toggle-mode         toggle the running Harkwell's AirPods between noise cancellation and
                        transparency, as the global shortcut does
  --help                print this help and exit
  --version             print the version and exit

Environment: HARKWELL_WHISPER_MODEL=PATH chooses the model file when --whisper-model does not;
HARKWELL_PREVIEW_CALL_HUD=1 shows the call panel once and exits;
QT_LOGGING_RULES="harkwell.*=true" prints diagnostics to standard error.
)";

constexpr std::string_view whisperModelOption = "--whisper-model";

// The model file --whisper-model names, as "--whisper-model PATH" or "--whisper-model=PATH";
// empty when the path is missing; nothing when the arguments are something else.
std::optional<std::string> whisperModelArgument(int argc, char** argv) {
    const std::string_view option = argv[1];
    if (option == whisperModelOption && argc <= 3) {
        return std::string(argc == 3 ? argv[2] : "");
    }
    if (argc == 2 && option.starts_with(whisperModelOption) && option.size() > whisperModelOption.size() &&
        option[whisperModelOption.size()] == '=') {
        return std::string(option.substr(whisperModelOption.size() + 1));
    }
    return std::nullopt;
}

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
    const std::optional<std::string> whisperModelPath =
        argc > 1 ? whisperModelArgument(argc, argv) : std::optional<std::string>();
    if (whisperModelPath && whisperModelPath->empty()) {
        std::cerr << "harkwell: --whisper-model needs the path of a model file\n\n" << usage;
        return 64;
    }
    if (argc > 1 && !whisperModelPath) {
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
    // A logout, `kill` or Ctrl+C quits as the Quit button does: listening stops, and the model and
    // the settings go in order, with exit status 0.
    const TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const bool preview = AppDelegate::isPreviewRequested(environment);
    QDBusConnection bus = QDBusConnection::sessionBus();
    // One Harkwell per session: a second launch opens the running one's panel and ends.
    if (!preview && isRunningInstanceOn(bus)) {
        qCDebug(logApp) << "Harkwell already runs in this session: opening its control panel";
        if (openRunningInstancePanel(bus)) {
            return 0;
        }
        std::cerr << "Harkwell is already running but did not answer.\n";
        return 1;
    }

    qCDebug(logApp) << "Starting on" << QGuiApplication::platformName() << (preview ? "(preview)" : "");
    // The model file: the one the command line names, else HARKWELL_WHISPER_MODEL's, else the installed one.
    AppDelegate delegate(makeSystemDependencies(whisperModelPath.value_or(defaultWhisperModelPath())));
    if (!preview) {
        if (const auto failure = delegate.exportOn(bus)) {
            qCDebug(logApp) << "Session bus services not exported:" << *failure;
            // Another instance took the name in the meantime: hand over to it.
            if (isRunningInstanceOn(bus) && openRunningInstancePanel(bus)) {
                return 0;
            }
            std::cerr << "Harkwell runs without its session-bus service: " << failure->toStdString() << '\n';
        } else {
            qCDebug(logApp) << "Session bus services exported";
        }
        AirPodsController::removeStaleAnswerFiles();
    }
    QObject::connect(&delegate, &AppDelegate::quitRequested, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    delegate.applicationDidFinishLaunching(environment);
    return QApplication::exec();
}
