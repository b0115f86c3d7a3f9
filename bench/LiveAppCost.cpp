#include "LiveAppCost.h"

#include "PrivatePulseAudio.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace harkwell::bench {

namespace {

struct ProcessFigures {
    double cpuSeconds = 0;
    double residentMegabytes = 0;
    double peakResidentMegabytes = 0;
};

// From /proc: the process's user and system time, resident and peak resident memory.
ProcessFigures figuresOf(qint64 pid) {
    ProcessFigures figures;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The fields after the command's closing parenthesis: state is the 3rd field, utime the 14th.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::vector<std::string> values;
    for (std::string value; fields >> value;) {
        values.push_back(value);
    }
    if (values.size() > 12) {
        figures.cpuSeconds = static_cast<double>(std::stoll(values[11]) + std::stoll(values[12])) /
                             static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string entry; std::getline(status, entry);) {
        if (entry.rfind("VmRSS:", 0) == 0) {
            figures.residentMegabytes = std::stod(entry.substr(6)) / 1024.0;
        } else if (entry.rfind("VmHWM:", 0) == 0) {
            figures.peakResidentMegabytes = std::stod(entry.substr(6)) / 1024.0;
        }
    }
    return figures;
}

QJsonObject failed(const QString& error) {
    std::printf("live app: could not be measured: %s\n", error.toLocal8Bit().constData());
    return {{"error", error}};
}

} // namespace

QJsonObject measureLiveApp(const LiveAppRun& run, const std::vector<std::int16_t>& audio,
                           const std::vector<std::string>& phrases) {
    testing::PrivatePulseAudio pulse(
        {{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", ""}});
    if (!pulse.error().isEmpty()) {
        return failed(pulse.error());
    }
    QTemporaryDir home;
    QJsonArray phraseList;
    for (const auto& phrase : phrases) {
        phraseList.append(QString::fromStdString(phrase));
    }
    const QJsonObject settings{{"permissionSetupComplete", true}, {"listenAtStart", true}, {"wakePhrases", phraseList}};
    QDir(home.path()).mkpath("config/Harkwell");
    QFile settingsFile(home.filePath("config/Harkwell/Harkwell.json"));
    if (!settingsFile.open(QIODevice::WriteOnly) || settingsFile.write(QJsonDocument(settings).toJson()) < 0) {
        return failed("cannot write " + settingsFile.fileName());
    }
    settingsFile.close();
    QFile airPods(home.filePath("airpods")); // simulated AirPods, in noise cancellation
    if (!airPods.open(QIODevice::WriteOnly) || airPods.write("anc\n") < 0) {
        return failed("cannot write " + airPods.fileName());
    }
    airPods.close();
    pulse.playRepeatedly(0,
                         QByteArray(reinterpret_cast<const char*>(audio.data()),
                                    static_cast<qsizetype>(audio.size() * sizeof(std::int16_t))),
                         3.0);

    QProcess harkwell;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_RUNTIME_DIR", home.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("PULSE_SERVER", pulse.serverAddress());
    environment.insert("HARKWELL_AIRPODS_SIMULATOR", home.filePath("airpods"));
    environment.insert("HARKWELL_WHISPER_MODEL", QString::fromStdString(run.whisperModel));
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/harkwell-bus");
    for (const auto* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        environment.remove(name);
    }
    harkwell.setProcessEnvironment(environment);
    harkwell.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    harkwell.start(QString::fromStdString(run.binary), {});
    if (!harkwell.waitForStarted(10000)) {
        return failed(QString::fromStdString(run.binary) + " did not start: " + harkwell.errorString());
    }
    const auto pid = harkwell.processId();
    const auto started = std::chrono::steady_clock::now();
    // Real time: the program hears a microphone. Its figures after the first minute, when the
    // model is read and listening has settled, and at the end.
    const auto at = [&](double minutes) {
        return started + std::chrono::milliseconds(static_cast<std::int64_t>(minutes * 60000));
    };
    const auto waitUntil = [&](std::chrono::steady_clock::time_point when) {
        while (std::chrono::steady_clock::now() < when) {
            if (harkwell.state() != QProcess::Running || harkwell.waitForFinished(1000)) {
                return false;
            }
        }
        return true;
    };
    if (!waitUntil(at(1))) {
        return failed("the program ended within the first minute");
    }
    const auto first = figuresOf(pid);
    const auto firstAt = std::chrono::steady_clock::now();
    QJsonArray eachMinute{first.residentMegabytes};
    for (int minute = 2; minute < run.minutes; ++minute) {
        if (!waitUntil(at(minute))) {
            return failed("the program ended before the run did");
        }
        eachMinute.append(figuresOf(pid).residentMegabytes);
    }
    if (!waitUntil(at(std::max(run.minutes, 1.5)))) {
        return failed("the program ended before the run did");
    }
    const auto last = figuresOf(pid);
    eachMinute.append(last.residentMegabytes);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - firstAt).count();
    harkwell.terminate();
    if (!harkwell.waitForFinished(10000)) {
        harkwell.kill();
        harkwell.waitForFinished();
    }
    const double cpuShare = (last.cpuSeconds - first.cpuSeconds) / seconds;
    std::printf("live app   %5.1f min in real time  CPU %5.2f%% of a core  resident memory %.1f MB after a minute, "
                "%.1f MB at the end (%+.1f MB), peak %.1f MB\n",
                run.minutes, 100 * cpuShare, first.residentMegabytes, last.residentMegabytes,
                last.residentMegabytes - first.residentMegabytes, last.peakResidentMegabytes);
    return {{"minutes", run.minutes},
            {"cpuShare", cpuShare},
            {"residentMegabytesAfterOneMinute", first.residentMegabytes},
            {"residentMegabytesAtEnd", last.residentMegabytes},
            {"peakResidentMegabytes", last.peakResidentMegabytes},
            {"residentMegabytesEachMinute", eachMinute}};
}

} // namespace harkwell::bench
