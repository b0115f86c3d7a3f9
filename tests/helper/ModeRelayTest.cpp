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
        QFile file(outputFile());
        if (file.open(QIODevice::ReadOnly)) {
            result.fileText = file.readAll().toStdString();
        }
        return result;
    }
    RelayRun run(const QString& command, const QProcessEnvironment& environment) {
        return run({command, "--output-file", outputFile()}, environment);
    }

    QString outputFile() const { return directory_.filePath("answer.log"); }
    QString simulatorFile() const { return directory_.filePath("airpods"); }

    void simulate(const std::string& contents) {
        QFile file(simulatorFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents.data(), static_cast<qint64>(contents.size()));
    }
    std::string simulated() {
        QFile file(simulatorFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "(missing)";
    }
    QProcessEnvironment simulatorEnvironment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HARKWELL_AIRPODS_SIMULATOR", simulatorFile());
        return environment;
    }
    static QProcessEnvironment systemBusEnvironment(const QString& address) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("HARKWELL_AIRPODS_SIMULATOR");
        environment.insert("DBUS_SYSTEM_BUS_ADDRESS", address);
        return environment;
    }

    QTemporaryDir directory_;
};

TEST_F(ModeRelayTest, ReadsAndSetsSimulatedAirPods) {
    struct Case {
        std::string before;
        QString command;
        int exitCode;
        std::string fileText;
        std::string after;
    };
    const std::string adaptiveNote = "The AirPods are in Adaptive mode, which is noise control on: reported as anc.\n";
    const std::vector<Case> cases{
        {"anc\n", "current-mode", 0, "anc\nEXIT_CODE=0\n", "anc\n"},
        {" transparency \n", "request-permission", 0, "transparency\nEXIT_CODE=0\n", " transparency \n"},
        {"adaptive", "current-mode", 0, adaptiveNote + "anc\nEXIT_CODE=0\n", "adaptive"},
        {"anc\n", "transparency", 0, "The AirPods are set to transparency.\nEXIT_CODE=0\n", "transparency\n"},
        {"transparency\n", "normal", 0, "The AirPods are set to noise control off.\nEXIT_CODE=0\n", "normal\n"},
        {"disconnected\n", "anc", 2, "The simulated AirPods are not connected.\nEXIT_CODE=2\n", "disconnected\n"},
        {"disconnected\n", "current-mode", 2, "The simulated AirPods are not connected.\nEXIT_CODE=2\n",
         "disconnected\n"},
        {"loud\n", "anc", 1,
         "The AirPods simulator file " + simulatorFile().toStdString() +
             " holds neither a listening mode (normal, anc, transparency, adaptive) nor "
             "\"disconnected\".\nEXIT_CODE=1\n",
         "loud\n"},
    };
    for (const auto& [before, command, exitCode, fileText, after] : cases) {
        SCOPED_TRACE(before + " " + command.toStdString());
        simulate(before);
        const RelayRun result = run(command, simulatorEnvironment());
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_EQ(result.fileText, fileText);
        EXPECT_EQ(result.printed, "");
        EXPECT_EQ(simulated(), after);
    }
}

TEST_F(ModeRelayTest, MissingSimulatorFileIsAFailure) {
    const RelayRun result = run("current-mode", simulatorEnvironment());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.fileText.starts_with("Cannot read the AirPods simulator file ")) << result.fileText;
    EXPECT_TRUE(result.fileText.ends_with("\nEXIT_CODE=1\n")) << result.fileText;
}

TEST_F(ModeRelayTest, UsageErrorsExitWith64) {
    const std::string usage = std::string(usageLine) + "\n";
    const std::vector<std::pair<QStringList, bool>> cases{
        {{"louder", "--output-file", outputFile()}, true},
        {{"anc", "--output-file", outputFile(), "extra"}, true},
        {{"anc"}, false},
        {{}, false},
    };
    for (const auto& [arguments, hasOutputFile] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const RelayRun result = run(arguments, simulatorEnvironment());
        EXPECT_EQ(result.exitCode, 64);
        if (hasOutputFile) {
            EXPECT_EQ(result.fileText, usage + "EXIT_CODE=64\n");
            EXPECT_EQ(result.printed, "");
        } else {
            EXPECT_EQ(result.printed, usage);
        }
    }
}

TEST_F(ModeRelayTest, UnwritableOutputFileStillDeliversTheResult) {
    simulate("anc\n");
    const RelayRun result =
        run({"current-mode", "--output-file", directory_.filePath("missing/answer.log")}, simulatorEnvironment());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.printed.find("anc\nEXIT_CODE=0\n"), std::string::npos) << result.printed;
}

TEST_F(ModeRelayTest, AsksBluezOnTheSystemBus) {
    testing::PrivateDBusDaemon daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
    const std::string bluezMissing = std::string(bluezUnavailableMessage) + "\nEXIT_CODE=1\n";
    for (const QString command : {"current-mode", "request-permission", "transparency"}) {
        SCOPED_TRACE(command.toStdString());
        const RelayRun withoutBluez = run(command, systemBusEnvironment(daemon.address()));
        EXPECT_EQ(withoutBluez.exitCode, 1);
        EXPECT_EQ(withoutBluez.fileText, bluezMissing);
        const RelayRun withoutBus = run(command, systemBusEnvironment("unix:path=/nonexistent/harkwell-system-bus"));
        EXPECT_EQ(withoutBus.exitCode, 1);
        EXPECT_EQ(withoutBus.fileText, bluezMissing);
    }

    const testing::FakeBluezProcess bluez(
        daemon.address(),
        {"/org/bluez/hci0/dev_11_11_11_11_11_11,11:11:11:11:11:11,1,0000110b-0000-1000-8000-00805f9b34fb"});
    ASSERT_EQ(bluez.error(), "");
    for (const QString command : {"current-mode", "request-permission", "anc"}) {
        SCOPED_TRACE(command.toStdString());
        const RelayRun noAirPods = run(command, systemBusEnvironment(daemon.address()));
        EXPECT_EQ(noAirPods.exitCode, 2);
        EXPECT_EQ(noAirPods.fileText, std::string(noAirPodsMessage) + "\nEXIT_CODE=2\n");
    }
}

} // namespace
} // namespace harkwell::relay
