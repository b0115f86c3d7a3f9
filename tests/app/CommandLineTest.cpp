// The harkwell executable's options: each prints and exits without starting the tray or touching
// the settings; an unknown one is a usage error.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace harkwell {
namespace {

struct Outcome {
    int exitCode = -1;
    QString output;
    QString errors;
};

Outcome runHarkwell(const QStringList& arguments, const QTemporaryDir& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        const Outcome run = runHarkwell(c.arguments, home);
        EXPECT_EQ(run.exitCode, c.exitCode);
        // Each stream starts with its expected text; an empty expectation means nothing at all.
        EXPECT_EQ(run.output.left(int(std::strlen(c.output))).toStdString(), c.output);
        EXPECT_EQ(run.errors.left(int(std::strlen(c.errors))).toStdString(), c.errors);
        if (!*c.output) {
            EXPECT_EQ(run.output.toStdString(), "");
        }
        if (!*c.errors) {
            EXPECT_EQ(run.errors.toStdString(), "");
        }
        if (c.exitCode == 64) {
            EXPECT_TRUE(run.errors.contains("Usage: harkwell")) << "a usage error shows the usage";
        }
        EXPECT_FALSE(QDir(home.filePath("config")).exists()) << "the settings folder was created";
    }
}

} // namespace
} // namespace harkwell
