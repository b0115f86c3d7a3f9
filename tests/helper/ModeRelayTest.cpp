// ModeRelay as a program: its command line, output file and exit codes; and how it finds the
// AirPods that BlueZ knows, with fake_bluez on a private bus.
#include "BluezDiscovery.h"
#include "PrivateDBusDaemon.h"
#include "RelayCommand.h"
#include "RelayFailure.h"

#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>

#include <sys/resource.h>

namespace harkwell::relay {
namespace {

using namespace std::chrono_literals;

const QString airPods = "74ec2172-0bad-4d01-8f77-997b2be0722a";
const QString audioSink = "0000110b-0000-1000-8000-00805f9b34fb";

// Device n as fake_bluez takes it: address n:n:n:n:n:n, from the third on a second adapter.
QString device(int n, bool connected, const QStringList& uuids) {
    return QString("/org/bluez/hci%1/dev_%2_%2_%2_%2_%2_%2,%2:%2:%2:%2:%2:%2,%3,%4")
        .arg(n / 3)
        .arg(QString(2, QChar('0' + n)))
        .arg(connected ? 1 : 0)
        .arg(uuids.join(';'));
}

// fake_bluez serving `devices` on the bus at `address` until it goes.
struct FakeBluez {
    FakeBluez(const QString& address, const QStringList& devices) {
        process.start(HARKWELL_FAKE_BLUEZ, QStringList{address} + devices);
        while (!process.canReadLine() && process.waitForReadyRead(10000)) {
        }
        isReady = process.readLine().trimmed() == "ready";
    }
    ~FakeBluez() {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
    bool isReady = false;
};

struct RelayRun {
    int exitCode = -1;
    std::string fileText;
    std::string printed;
};

class ModeRelayTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(directory_.isValid()); }

    // Runs ModeRelay over the simulated AirPods, or without them over BlueZ on `systemBus`;
    // `setUp` runs in the child before ModeRelay starts.
    RelayRun run(const QStringList& arguments, const QString& systemBus = {}, std::function<void()> setUp = {}) {
        QFile::remove(outputFile());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LC_ALL", "C"); // system error texts in English
        environment.insert("HARKWELL_AIRPODS_SIMULATOR", systemBus.isEmpty() ? simulatorFile() : "");
        environment.insert("DBUS_SYSTEM_BUS_ADDRESS", systemBus);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (setUp) {
            process.setChildProcessModifier(setUp);
        }
        process.start(HARKWELL_MODE_RELAY, arguments);
        EXPECT_TRUE(process.waitForFinished(30000)) << "ModeRelay did not finish";
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, contents(outputFile()),
                process.readAll().toStdString()};
    }
    QStringList command(const QString& name) const { return {name, "--output-file", outputFile()}; }
    static std::string contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "";
    }
    QString outputFile() const { return directory_.filePath("answer.log"); }
    QString simulatorFile() const { return directory_.filePath("airpods"); }

    QTemporaryDir directory_;
};

// Without an output file, the usage line is printed instead.
TEST_F(ModeRelayTest, UsageErrorsExitWith64) {
    const std::string usage = std::string(usageLine) + "\n";
    for (const bool hasOutputFile : {true, false}) {
        SCOPED_TRACE(hasOutputFile);
        const RelayRun result = run(hasOutputFile ? command("louder") : QStringList{"anc"});
        EXPECT_EQ(result.exitCode, 64);
        EXPECT_EQ(result.fileText, hasOutputFile ? usage + "EXIT_CODE=64\n" : "");
        EXPECT_EQ(result.printed, hasOutputFile ? "" : usage);
    }
}

TEST_F(ModeRelayTest, UnwritableOutputFileStillDeliversTheResult) {
    std::ofstream(simulatorFile().toStdString()) << "anc\n";
    const RelayRun result = run({"current-mode", "--output-file", directory_.filePath("missing/answer.log")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.printed.find("anc\nEXIT_CODE=0\n"), std::string::npos) << result.printed;
}

// An answer that the output file takes only in part (here it reaches the file size limit) is
// taken away and printed instead, so that it is read once.
TEST_F(ModeRelayTest, AnAnswerFileWrittenInPartIsRemovedAndTheAnswerPrintedOnce) {
    std::ofstream(simulatorFile().toStdString()) << "transparency\n";
    const RelayRun result = run(command("current-mode"), {}, [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16, 16}; // the answer is 25 bytes
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_FALSE(QFile::exists(outputFile())) << "holding: " << result.fileText;
    const std::string answer = "transparency\nEXIT_CODE=0\n";
    const size_t first = result.printed.find(answer);
    EXPECT_NE(first, std::string::npos) << result.printed;
    EXPECT_EQ(result.printed.find(answer, first + 1), std::string::npos) << result.printed;
    EXPECT_NE(result.printed.find("AirPods control cannot write " + outputFile().toStdString() + ": File too large"),
              std::string::npos)
        << result.printed;
}

TEST_F(ModeRelayTest, AsksBluezOnTheSystemBus) {
    testing::PrivateDBusDaemon daemon;
    ASSERT_FALSE(daemon.address().isEmpty()) << daemon.error().toStdString();
    const auto expectRun = [&](const QString& bus, const QString& name, int exitCode, const std::string& message) {
        SCOPED_TRACE(bus.toStdString() + " " + name.toStdString());
        const RelayRun result = run(command(name), bus);
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_EQ(result.fileText, message + "\nEXIT_CODE=" + std::to_string(exitCode) + "\n");
    };
    expectRun(daemon.address(), "request-permission", 1, bluezUnavailableMessage);
    expectRun("unix:path=/nonexistent/harkwell-system-bus", "current-mode", 1, bluezUnavailableMessage);
    {
        const FakeBluez bluez(daemon.address(), {device(1, true, {audioSink}), device(2, false, {airPods})});
        ASSERT_TRUE(bluez.isReady);
        expectRun(daemon.address(), "anc", 2, noAirPodsMessage);
    }

    // Connected AirPods only, whatever the case of the UUID, in object-path order.
    const FakeBluez bluez(daemon.address(),
                          {device(3, true, {airPods}), device(2, true, {audioSink, airPods.toUpper()}),
                           device(1, false, {airPods}), device(4, true, {audioSink})});
    ASSERT_TRUE(bluez.isReady);
    std::vector<std::string> found;
    for (const BluetoothDevice& pair :
         findConnectedAirPods(QDBusConnection::connectToBus(daemon.address(), "test"), 5s)) {
        found.push_back(pair.address + " " + pair.name);
    }
    EXPECT_EQ(found, (std::vector<std::string>{"22:22:22:22:22:22 Test device", "33:33:33:33:33:33 Test device"}));
    QDBusConnection::disconnectFromBus("test");
}

} // namespace
} // namespace harkwell::relay
