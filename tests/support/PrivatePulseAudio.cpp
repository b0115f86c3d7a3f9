#include "PrivatePulseAudio.h"

#include <QFile>
#include <QProcessEnvironment>

#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace harkwell::testing {

PrivatePulseAudio::PrivatePulseAudio(const std::vector<Source>& sources) {
    if (!directory_.isValid()) {
        error_ = "cannot create a temporary directory";
        return;
    }
    const QString root = directory_.path();
    QString script = QString("load-module module-native-protocol-unix socket=%1/native auth-anonymous=1\n"
                             "load-module module-null-sink sink_name=speakers\n")
                         .arg(root);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        // The module makes the FIFO itself (and refuses one that exists).
        const QString fifo = root + "/source" + QString::number(i);
        fifos_.push_back(fifo);
        script += QString("load-module module-pipe-source source_name=%1 file=%2 format=s16le rate=16000 channels=1 "
                          "source_properties=\"device.description='%3' %4\"\n")
                      .arg(sources[i].name, fifo, sources[i].description, sources[i].properties);
    }
    QFile config(root + "/server.pa");
    if (!config.open(QIODevice::WriteOnly) || config.write(script.toUtf8()) < 0) {
        error_ = "cannot write " + config.fileName();
        return;
    }
    config.close();
    start();
}

void PrivatePulseAudio::start() {
    const QString root = directory_.path();
    for (const auto& fifo : fifos_) {
        QFile::remove(fifo); // left by a server that was killed
    }
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const auto* name : {"HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH", "XDG_CONFIG_HOME"}) {
        environment.insert(name, root);
    }
    environment.remove("DISPLAY");
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    process_.setProcessEnvironment(environment);
    process_.setProgram("pulseaudio");
    // --system=no and its own runtime folder let it run as root too (CI does).
    process_.setArguments({"--daemonize=no", "--system=no", "--exit-idle-time=-1", "--disallow-exit",
                           "--use-pid-file=no", "--disable-shm=yes", "-n", "-F", root + "/server.pa",
                           "--log-target=stderr", "--log-level=info"});
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setReadChannel(QProcess::StandardError);
    process_.start();
    if (!process_.waitForStarted(10000)) {
        error_ = "cannot start pulseaudio: " + process_.errorString();
        return;
    }
    QByteArray log;
    while (!log.contains("Daemon startup complete")) {
        if (!process_.waitForReadyRead(20000)) {
            error_ = "pulseaudio did not start: " + QString::fromUtf8(log + process_.readAllStandardError());
            return;
        }
        log += process_.readAllStandardError();
    }
    // Its later messages are read and dropped, so that its log pipe never fills up.
    logDrain_ =
        QObject::connect(&process_, &QProcess::readyReadStandardError, [this] { process_.readAllStandardError(); });
    address_ = "unix:" + root + "/native";
}

bool PrivatePulseAudio::restart() {
    kill();
    QObject::disconnect(logDrain_);
    error_.clear();
    playing_ = true;
    start();
    return error_.isEmpty();
}

PrivatePulseAudio::~PrivatePulseAudio() { kill(); }

void PrivatePulseAudio::kill() {
    playing_ = false;
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
    for (auto& player : players_) {
        player.join();
    }
    players_.clear();
}

void PrivatePulseAudio::playRepeatedly(int source, QByteArray samples, double pause) {
    const QString fifo = fifos_.at(static_cast<std::size_t>(source));
    samples.append(QByteArray(static_cast<qsizetype>(pause * 16000) * 2, '\0'));
    players_.emplace_back([this, fifo, samples] {
        // Read-write, so that opening never waits for the server and writing never fails when it goes.
        const int file = open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
        if (file < 0) {
            return;
        }
        constexpr qsizetype chunk = 1600 * 2; // 100 ms
        auto due = std::chrono::steady_clock::now();
        for (qsizetype at = 0; playing_; at = (at + chunk) % samples.size()) {
            // A microphone delivers in real time; this one too.
            std::this_thread::sleep_until(due);
            due += std::chrono::milliseconds(100);
            [[maybe_unused]] const auto written =
                write(file, samples.constData() + at, std::min(chunk, samples.size() - at));
        }
        close(file);
    });
}

QByteArray synthesizedSpeech(const QString& text, const QString& voice) {
    QTemporaryDir directory;
    const QString wave = directory.filePath("speech.wav");
    const QString raw = directory.filePath("speech.raw");
    if (QProcess::execute("flite", {"-voice", voice, "-t", text, "-o", wave}) != 0 ||
        QProcess::execute(
            "sox", {wave, "-t", "raw", "-r", "16000", "-c", "1", "-b", "16", "-e", "signed-integer", "-L", raw}) != 0) {
        return {};
    }
    QFile file(raw);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace harkwell::testing
