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
#include "locale/AppLanguage.h"
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

// The usage and the command line's errors, in the interface language.
constexpr const char* commandLineContext = "harkwell::main";
// clang-format off
constexpr const char* usage = QT_TRANSLATE_NOOP("harkwell::main",
    "Usage: harkwell [--whisper-model PATH]\n"
    "       harkwell --toggle-mode | --help | --version\n"
    "\n"
    "Harkwell sits in the system tray, listens for your call phrases and switches your AirPods to\n"
    "Transparency when someone calls you.\n"
    "\n"
    "  (no option)           start Harkwell, or open the control panel of the one already running\n"
    "  --whisper-model PATH  start Harkwell with the whisper.cpp model file at PATH for accurate\n"
    "                        recognition instead of the installed one (a Harkwell already running\n"
    "                        keeps its own)\n"
    "  --toggle-mode         toggle the running Harkwell's AirPods between noise cancellation and\n"
    "                        transparency, as the global shortcut does\n"
    "  --help                print this help and exit\n"
    "  --version             print the version and exit\n"
    "\n"
    "Environment: HARKWELL_WHISPER_MODEL=PATH chooses the model file when --whisper-model does not;\n"
    "HARKWELL_PREVIEW_CALL_HUD=1 shows the call panel once and exits;\n"
    "QT_LOGGING_RULES=\"harkwell.*=true\" prints diagnostics to standard error.\n");
// clang-format on

std::string translated(const char* source) {
    return QCoreApplication::translate(commandLineContext, source).toStdString();
}

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

// --help, or the usage after a mistake in the options: printed in the desktop's language. Returns
// the exit status.
int answerWithUsage(int& argc, char** argv, bool helpAsked, bool pathMissing) {
    const QCoreApplication application(argc, argv);
    harkwell::useDesktopAppLocale();
    if (helpAsked) {
        std::cout << translated(usage);
        return 0;
    }
    const QString mistake =
        pathMissing
            ? QCoreApplication::translate("harkwell::main", "harkwell: --whisper-model needs the path of a model file")
        : argc == 2 ? QCoreApplication::translate("harkwell::main", "harkwell: unknown option '%1'")
                          .arg(QString::fromLocal8Bit(argv[1]))
                    : QCoreApplication::translate("harkwell::main", "harkwell: takes one option at most");
    std::cerr << mistake.toStdString() << "\n\n" << translated(usage);
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    using namespace harkwell;

    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "harkwell " << appMetadataValue("HarkwellVersion").value_or("unknown") << '\n';
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--toggle-mode") == 0) {
        QCoreApplication application(argc, argv);
        useDesktopAppLocale(); // its messages speak the desktop's language, as the usage does
        quietQtWarnings();
        return runToggleModeCommand(QDBusConnection::sessionBus(), std::cerr);
    }
    const bool helpAsked = argc == 2 && std::strcmp(argv[1], "--help") == 0;
    const std::optional<std::string> whisperModelPath =
        argc > 1 && !helpAsked ? whisperModelArgument(argc, argv) : std::optional<std::string>();
    if (helpAsked || (argc > 1 && (!whisperModelPath || whisperModelPath->empty()))) {
        return answerWithUsage(argc, argv, helpAsked, whisperModelPath.has_value());
    }

    QApplication::setApplicationName(QStringLiteral("Harkwell"));
    QApplication::setOrganizationName(QStringLiteral("Harkwell"));
    QApplication::setDesktopFileName(QStringLiteral("io.github.harkwell.Harkwell"));
    QApplication application(argc, argv);
    useDesktopAppLocale();
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
        std::cerr << translated(QT_TRANSLATE_NOOP("harkwell::main", "Harkwell is already running but did not answer."))
                  << '\n';
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
            std::cerr << QCoreApplication::translate("harkwell::main",
                                                     "Harkwell runs without its session-bus service: %1")
                             .arg(*failure)
                             .toStdString()
                      << '\n';
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
