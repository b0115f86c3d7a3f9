// ModeRelay as a program: its command line, output file and exit codes.
#include "FakeBluezProcess.h"
#include "PrivateDBusDaemon.h"
#include "RelayCommand.h"
#include "RelayFailure.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace harkwell::relay {
namespace {

struct RelayRun {
    int exitCode = -1;
    std::string fileText;
    std::string printed;
};

// Stands for a simulator file that does not exist.
const std::string missing = "(missing)";

class ModeRelayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(directory_.isValid()); }

    RelayRun run(const QStringList& arguments, const QProcessEnvironment& environment) {
        QFile::remove(outputFile());
        QProcess process;
        process.setProgram(HARKWELL_MODE_RELAY);
        process.setArguments(arguments);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start();
        EXPECT_TRUE(process.waitForFinished(30000)) << "ModeRelay did not finish";
        RelayRun result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.printed = process.readAll().toStdString();
        result.fileText = contents(outputFile(), "");
        return result;
    }
    RelayRun run(const QString& command, const QProcessEnvironment& environment) {
        return run({command, "--output-file", outputFile()}, environment);
    }
    static std::string contents(const QString& path, const std::string& whenMissing) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : whenMissing;
    }

    QString outputFile() const { return directory_.filePath("answer.log"); }
    QString simulatorFile() const { return directory_.filePath("airpods"); }

    void simulate(const std::string& text) {
        QFile file(simulatorFile());
        if (text == missing) {
            file.remove();
            return;
        }
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.data(), static_cast<qint64>(text.size()));
    }
    QProcessEnvironment environment(const QString& simulator, const QString& systemBus = {}) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("HARKWELL_AIRPODS_SIMULATOR");
        environment.insert("LC_ALL", "C"); // system error texts in English
        if (!simulator.isEmpty()) {
            environment.insert("HARKWELL_AIRPODS_SIMULATOR", simulator);
        }
        if (!systemBus.isEmpty()) {
            environment.insert("DBUS_SYSTEM_BUS_ADDRESS", systemBus);
        }
        return environment;
    }

    QTemporaryDir directory_;
};

TEST_F(ModeRelayTest, ReadsAndSetsSimulatedAirPods) {
    const std::string simulator = simulatorFile().toStdString();
    const std::string adaptiveNote = "The AirPods are in Adaptive mode, which is noise control on: reported as anc.\n";
    // The simulator file before and after the command.
    const std::vector<std::tuple<std::string, QString, int, std::string, std::string>> cases{
        {"anc\n", "current-mode", 0, "anc\nEXIT_CODE=0\n", "anc\n"},
        {" transparency \n", "request-permission", 0, "transparency\nEXIT_CODE=0\n", " transparency \n"},
        {"adaptive", "current-mode", 0, adaptiveNote + "anc\nEXIT_CODE=0\n", "adaptive"},
        {"anc\n", "transparency", 0, "The AirPods are set to transparency.\nEXIT_CODE=0\n", "transparency\n"},
        {"transparency\n", "normal", 0, "The AirPods are set to noise control off.\nEXIT_CODE=0\n", "normal\n"},
        {"disconnected\n", "anc", 2, "The simulated AirPods are not connected.\nEXIT_CODE=2\n", "disconnected\n"},
        {"loud\n", "anc", 1,
         "The AirPods simulator file " + simulator +
             " holds neither a listening mode (normal, anc, transparency, adaptive) nor "
             "\"disconnected\".\nEXIT_CODE=1\n",
         "loud\n"},
        {missing, "current-mode", 1,
         "Cannot read the AirPods simulator file " + simulator + ": No such file or directory\nEXIT_CODE=1\n", missing},
    };
    for (const auto& [before, command, exitCode, fileText, after] : cases) {
        SCOPED_TRACE(before + " " + command.toStdString());
        simulate(before);
        const RelayRun result = run(command, environment(simulatorFile()));
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_EQ(result.fileText, fileText);
        EXPECT_EQ(result.printed, "");
        EXPECT_EQ(contents(simulatorFile(), missing), after);
    }
}

TEST_F(ModeRelayTest, UsageErrorsExitWith64) {
    const std::string usage = std::string(usageLine) + "\n";
    // Without an output file, the usage line is printed instead.
    const std::vector<std::pair<QStringList, bool>> cases{
        {{"louder", "--output-file", outputFile()}, true},
        {{"anc", "--output-file", outputFile(), "extra"}, true},
        {{"anc"}, false},
        {{}, false},
    };
    for (const auto& [arguments, hasOutputFile] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const RelayRun result = run(arguments, environment(simulatorFile()));
        EXPECT_EQ(result.exitCode, 64);
        EXPECT_EQ(result.fileText, hasOutputFile ? usage + "EXIT_CODE=64\n" : "");
        EXPECT_EQ(result.printed, hasOutputFile ? "" : usage);
    }
}

TEST_F(ModeRelayTest, UnwritableOutputFileStillDeliversTheResult) {
    simulate("anc\n");
    const RelayRun result =
        run({"current-mode", "--output-file", directory_.filePath("missing/answer.log")}, environment(simulatorFile()));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.printed.find("anc\nEXIT_CODE=0\n"), std::string::npos) << result.printed;
}

TEST_F(ModeRelayTest, AsksBluezOnTheSystemBus) {
    testing::PrivateDBusDaemon daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
    const auto expectRun = [&](const QString& bus, const QString& command, int exitCode, const std::string& message) {
        SCOPED_TRACE(bus.toStdString() + " " + command.toStdString());
        const RelayRun result = run(command, environment({}, bus));
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_EQ(result.fileText, message + "\nEXIT_CODE=" + std::to_string(exitCode) + "\n");
    };
    // request-permission looks for BlueZ before it reads; the others look when they connect.
    expectRun(daemon.address(), "request-permission", 1, bluezUnavailableMessage);
    expectRun(daemon.address(), "transparency", 1, bluezUnavailableMessage);
    expectRun("unix:path=/nonexistent/harkwell-system-bus", "current-mode", 1, bluezUnavailableMessage);

    const testing::FakeBluezProcess bluez(
        daemon.address(),
        {"/org/bluez/hci0/dev_11_11_11_11_11_11,11:11:11:11:11:11,1,0000110b-0000-1000-8000-00805f9b34fb"});
    ASSERT_EQ(bluez.error(), "");
    expectRun(daemon.address(), "request-permission", 2, noAirPodsMessage);
    expectRun(daemon.address(), "anc", 2, noAirPodsMessage);
}

} // namespace
} // namespace harkwell::relay
