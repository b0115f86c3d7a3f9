// SIGTERM, SIGINT and SIGHUP end the real application as its Quit button does: listening stops,
// the settings stay written and the process exits with status 0. It listens on a private sound
// server and answers through the helper's simulated AirPods, on the offscreen platform.
#include "EventLoop.h"
#include "PrivatePulseAudio.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <utility>
#include <vector>

namespace harkwell {
namespace {

using namespace std::chrono_literals;

void writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size()) << path.toStdString();
}

TEST(TerminationSignalsTest, EachSignalEndsHarkwellAsQuittingDoes) {
    testing::PrivatePulseAudio pulse(
        {{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", "device.form_factor=internal"}});
    ASSERT_TRUE(pulse.error().isEmpty()) << pulse.error().toStdString();
    pulse.playRepeatedly(0, QByteArray(3200, '\0'), 0.1); // a quiet room, without pause
    const QByteArray settings = R"({"permissionSetupComplete": true, "listenAtStart": true, "wakePhrases": ["James"]})";
    const std::vector<std::pair<int, const char*>> signalsSent{
        {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
    for (const auto& [signalNumber, name] : signalsSent) {
        SCOPED_TRACE(name);
        QTemporaryDir home;
        ASSERT_TRUE(QDir(home.path()).mkpath("config/Harkwell"));
        const QString settingsPath = home.filePath("config/Harkwell/Harkwell.json");
        writeFile(settingsPath, settings);
        writeFile(home.filePath("airpods"), "anc\n");

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
        environment.insert("XDG_RUNTIME_DIR", home.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("QT_LOGGING_RULES", "harkwell.*=true");
        environment.insert("PULSE_SERVER", pulse.serverAddress());
        environment.insert("HARKWELL_AIRPODS_SIMULATOR", home.filePath("airpods"));
        environment.insert("HARKWELL_WHISPER_MODEL", home.filePath("no-model.bin")); // the basic recogniser alone
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/harkwell-bus");
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("HARKWELL_PREVIEW_CALL_HUD");
        QProcess harkwell;
        harkwell.setProcessEnvironment(environment);
        harkwell.setProcessChannelMode(QProcess::MergedChannels);
        QString log;
        QObject::connect(&harkwell, &QProcess::readyRead, [&] { log += QString::fromUtf8(harkwell.readAll()); });
        harkwell.start(HARKWELL_EXECUTABLE, {});
        ASSERT_TRUE(harkwell.waitForStarted()) << harkwell.errorString().toStdString();
        ASSERT_TRUE(testing::eventually([&] { return log.contains("Recording"); }, 60s, 50ms))
            << "listening did not start:\n"
            << log.toStdString();

        const auto signalledAt = log.size();
        ASSERT_EQ(::kill(harkwell.processId(), signalNumber), 0);
        ASSERT_TRUE(testing::eventually([&] { return harkwell.state() == QProcess::NotRunning; }, 30s, 50ms));
        log += QString::fromUtf8(harkwell.readAll());
        EXPECT_EQ(harkwell.exitStatus(), QProcess::NormalExit) << "ended by the signal itself";
        EXPECT_EQ(harkwell.exitCode(), 0) << log.mid(signalledAt).toStdString();
        EXPECT_TRUE(log.mid(signalledAt).contains("Stopped listening")) << log.toStdString();

        QFile file(settingsPath);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
        EXPECT_EQ(stored.value("wakePhrases").toArray(), QJsonArray{"James"});
        EXPECT_TRUE(stored.value("listenAtStart").toBool());
    }
}

} // namespace
} // namespace harkwell
