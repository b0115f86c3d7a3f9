#pragma once

#include "ChildProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace harkwell::testing {

// A PulseAudio server of the test's own: private runtime folder and socket, no autospawn, no
// session bus. Each source is a FIFO ("module-pipe-source", 16 kHz mono 16-bit) that the test
// plays audio into. Stopped when the object goes.
class PrivatePulseAudio {
public:
    struct Source {
        QString name;        // e.g. "alsa_input.pci-0000_00_1f.3.analog-stereo"
        QString description; // e.g. "Built-in Audio Analog Stereo"
        QString properties;  // more source properties, e.g. "device.bus=bluetooth"
    };

    explicit PrivatePulseAudio(const std::vector<Source>& sources);
    ~PrivatePulseAudio();
    PrivatePulseAudio(const PrivatePulseAudio&) = delete;
    PrivatePulseAudio& operator=(const PrivatePulseAudio&) = delete;

    // Empty when the server could not be started; error() then says why.
    const QString& serverAddress() const { return address_; }
    const QString& error() const { return error_; }

    // Plays the samples into a source at real-time pace, again and again with `pause` seconds
    // of silence between, until the server stops.
    void playRepeatedly(int source, QByteArray samples, double pause);
    // Ends the server at once, as when the sound server goes away; playing stops.
    void kill();
    // Kills the server, then starts a new one at the same address with the same sources (the
    // test plays into them again). False, with error() saying why, when it did not start.
    bool restart();

private:
    void start();

    QTemporaryDir directory_;
    std::unique_ptr<ChildProcess> server_;
    QString address_;
    QString error_;
    std::vector<QString> fifos_;
    std::atomic<bool> playing_ = true;
    std::vector<std::thread> players_;
};

// "text" spoken by Flite's voice, as 16 kHz mono 16-bit little-endian samples; empty on failure.
QByteArray synthesizedSpeech(const QString& text, const QString& voice = "slt");
// "text" spoken by eSpeak NG's Korean voice, the same way.
QByteArray synthesizedKoreanSpeech(const QString& text);

} // namespace harkwell::testing
