// The harkwell executable's options: each prints and exits without starting the tray or touching
// the settings; an unknown one is a usage error. The usage speaks the desktop's language.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace harkwell {
namespace {

struct Outcome {
    int exitCode = -1;
    QString output;
    QString errors;
};

// `language`: the locale variables to run under instead of the test's own, as "NAME=value".
Outcome runHarkwell(const QStringList& arguments, const QTemporaryDir& home, const QStringList& language = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!language.isEmpty()) {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            environment.remove(name);
        }
        for (const QString& variable : language) {
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        }
    }
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("HOME", home.path());
    // No display and no bus: an option that started the application would fail loudly.
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/harkwell-bus");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(HARKWELL_EXECUTABLE, arguments);
    EXPECT_TRUE(process.waitForFinished(20000)) << arguments.join(' ').toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

TEST(CommandLineTest, OptionsPrintAndExitWithoutTouchingSettings) {
    const struct {
        QStringList arguments;
        int exitCode;
        const char* output;
        const char* errors;
        // The locale variables to run under, when not the tests' own English.
        QStringList language = {};
    } cases[] = {
        {{"--help"},
         0,
         "Usage: harkwell [--whisper-model PATH]\n       harkwell --toggle-mode | --help | --version",
         ""},
        {{"--version"}, 0, "harkwell " HARKWELL_VERSION "\n", ""},
        {{"--bogus"}, 64, "", "harkwell: unknown option '--bogus'"},
        {{"--help", "--version"}, 64, "", "harkwell: takes one option at most"},
        {{"--whisper-model"}, 64, "", "harkwell: --whisper-model needs the path of a model file"},
        {{"--whisper-model="}, 64, "", "harkwell: --whisper-model needs the path of a model file"},
        {{"--whisper-model", ""}, 64, "", "harkwell: --whisper-model needs the path of a model file"},
        {{"--whisper-model", "model.bin", "--help"}, 64, "", "harkwell: takes one option at most"},
        {{"--whisper-modelx"}, 64, "", "harkwell: unknown option '--whisper-modelx'"},
        // The usage speaks the desktop's language: Korean when a Korean locale comes first.
        {{"--help"}, 0, "사용법: harkwell [--whisper-model 경로]\n", "", {"LANGUAGE=ko", "LANG=C.UTF-8"}},
        {{"--help"}, 0, "사용법: harkwell", "", {"LANGUAGE=ko_KR:en"}},
        {{"--help"}, 0, "사용법: harkwell", "", {"LC_ALL=ko_KR.UTF-8"}},
        {{"--bogus"}, 64, "", "harkwell: 알 수 없는 옵션 '--bogus'\n\n사용법: harkwell", {"LANGUAGE=ko"}},
        {{"--help"}, 0, "Usage: harkwell [--whisper-model PATH]\n", "", {"LANGUAGE=en", "LC_ALL=ko_KR.UTF-8"}},
        {{"--help"}, 0, "Usage: harkwell", "", {"LANGUAGE=de:ko"}},
        {{"--bogus"}, 64, "", "harkwell: unknown option '--bogus'\n\nUsage: harkwell", {"LC_ALL=C"}},
        // No bus here: the toggle says so, in the desktop's language too.
        {{"--toggle-mode"}, 1, "", "Cannot reach the session bus: "},
        {{"--toggle-mode"}, 1, "", "세션 버스에 연결할 수 없습니다: ", {"LANGUAGE=ko"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.language + c.arguments).join(' ').toStdString());
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        const Outcome run = runHarkwell(c.arguments, home, c.language);
        EXPECT_EQ(run.exitCode, c.exitCode);
        // Each stream starts with its expected text; an empty expectation means nothing at all.
        EXPECT_EQ(run.output.left(QString::fromUtf8(c.output).size()).toStdString(), c.output);
        EXPECT_EQ(run.errors.left(QString::fromUtf8(c.errors).size()).toStdString(), c.errors);
        if (!*c.output) {
            EXPECT_EQ(run.output.toStdString(), "");
        }
        if (!*c.errors) {
            EXPECT_EQ(run.errors.toStdString(), "");
        }
        if (c.exitCode == 64) {
            EXPECT_TRUE(run.errors.contains("harkwell [--whisper-model ")) << "a usage error shows the usage";
        }
        EXPECT_FALSE(QDir(home.filePath("config")).exists()) << "the settings folder was created";
    }
}

} // namespace
} // namespace harkwell
