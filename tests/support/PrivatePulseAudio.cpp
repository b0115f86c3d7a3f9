#include "PrivatePulseAudio.h"

#include <QFile>

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
    const std::string root = directory_.path().toStdString();
    for (const auto& fifo : fifos_) {
        QFile::remove(fifo); // left by a server that was killed
    }
    std::vector<std::string> environment{"DISPLAY", "DBUS_SESSION_BUS_ADDRESS=disabled:"};
    for (const std::string name :
         {"HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH", "PULSE_STATE_PATH", "XDG_CONFIG_HOME"}) {
        environment.push_back(name + "=" + root);
    }
    server_ = std::make_unique<ChildProcess>();
    // --system=no and its own runtime folder let it run as root too (CI does).
    if (!server_->start("pulseaudio",
                        {"--daemonize=no", "--system=no", "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no",
                         "--disable-shm=yes", "-n", "-F", root + "/server.pa", "--log-target=stderr",
                         "--log-level=info"},
                        environment)) {
        error_ = "cannot start pulseaudio: " + QString::fromStdString(server_->error());
        return;
    }
    if (!server_->waitForLog("Daemon startup complete", std::chrono::seconds(20))) {
        error_ = "pulseaudio did not start: " + QString::fromStdString(server_->log());
        return;
    }
    address_ = QString::fromStdString("unix:" + root + "/native");
}

bool PrivatePulseAudio::restart() {
    kill();
    error_.clear();
    playing_ = true;
    start();
    return error_.isEmpty();
}

PrivatePulseAudio::~PrivatePulseAudio() { kill(); }

void PrivatePulseAudio::kill() {
    playing_ = false;
    if (server_) {
        server_->kill();
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

namespace {

// What the synthesiser's command writes to the wave file it is given, as 16 kHz mono 16-bit
// little-endian samples; empty on failure.
QByteArray synthesized(const std::string& program, std::vector<std::string> arguments, const QString& wave) {
    const QString raw = wave + ".raw";
    if (ChildProcess::run(program, std::move(arguments)) != 0 ||
        ChildProcess::run("sox", {wave.toStdString(), "-t", "raw", "-r", "16000", "-c", "1", "-b", "16", "-e",
                                  "signed-integer", "-L", raw.toStdString()}) != 0) {
        return {};
    }
    QFile file(raw);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QByteArray synthesizedSpeech(const QString& text, const QString& voice) {
    QTemporaryDir directory;
    const QString wave = directory.filePath("speech.wav");
    return synthesized("flite", {"-voice", voice.toStdString(), "-t", text.toStdString(), "-o", wave.toStdString()},
                       wave);
}

QByteArray synthesizedKoreanSpeech(const QString& text) {
    QTemporaryDir directory;
    const QString wave = directory.filePath("speech.wav");
    return synthesized("espeak-ng", {"-v", "ko", "-w", wave.toStdString(), text.toStdString()}, wave);
}

} // namespace harkwell::testing
