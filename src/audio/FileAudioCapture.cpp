#include "audio/FileAudioCapture.h"

#include <QTimer>

#include <cstring>
#include <fstream>
#include <stdexcept>

namespace harkwell {

std::vector<std::int16_t> readWave(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error(path + ": cannot be read");
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto u16 = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1])
                                                                                 << 8);
    };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        throw std::runtime_error(path + ": not a WAV file");
    }
    bool formatSeen = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const auto size = u32(at + 4);
        const std::string id(bytes.data() + at, 4);
        if (id == "fmt " && at + 24 <= bytes.size()) {
            if (u16(at + 8) != 1 || u16(at + 10) != 1 || u32(at + 12) != 16000 || u16(at + 22) != 16) {
                throw std::runtime_error(path + ": expected 16 kHz mono 16-bit PCM");
            }
            formatSeen = true;
        } else if (id == "data" && formatSeen) {
            const auto length = std::min<std::size_t>(size, bytes.size() - at - 8) / 2;
            std::vector<std::int16_t> samples(length);
            std::memcpy(samples.data(), bytes.data() + at + 8, length * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    throw std::runtime_error(path + ": no audio data");
}

namespace {

class FileCaptureSession final : public AudioCaptureSession {
public:
    explicit FileCaptureSession(FileAudioCaptureDevices::Source source) : source_(std::move(source)) {}

    void start(BufferHandler onBuffer, ErrorHandler) override {
        timer_ = std::make_unique<QTimer>();
        timer_->setInterval(source_.realtime ? 100 : 0);
        timer_->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer_.get(), &QTimer::timeout, [this, onBuffer = std::move(onBuffer)] {
            if (!source_.next(buffer_)) {
                timer_->stop();
                if (source_.onFinished) {
                    source_.onFinished();
                }
                return;
            }
            onBuffer(buffer_);
            *source_.fedSamples += buffer_.size();
        });
        timer_->start();
    }

    void stop() override { timer_.reset(); }

private:
    FileAudioCaptureDevices::Source source_;
    std::unique_ptr<QTimer> timer_;
    std::vector<std::int16_t> buffer_;
};

} // namespace

std::unique_ptr<AudioCaptureSession> FileAudioCaptureDevices::open(const AudioInputDevice&) {
    return std::make_unique<FileCaptureSession>(source_);
}

} // namespace harkwell
