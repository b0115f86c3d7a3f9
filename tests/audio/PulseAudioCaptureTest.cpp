// libpulse capture against a PulseAudio server of the test's own, with a FIFO microphone.
#include "audio/PulseAudioCapture.h"

#include "EventLoop.h"
#include "PrivatePulseAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace harkwell {

void PrintTo(const Error& error, std::ostream* out) { *out << error.description(); }

namespace {

using namespace std::chrono_literals;
using testing::PrivatePulseAudio;

const AudioInputDevice builtIn{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", true};

class PulseAudioCaptureTest : public ::testing::Test {
protected:
    PulseAudioCaptureTest() {
        EXPECT_TRUE(pulse.error().isEmpty()) << pulse.error().toStdString();
        qputenv("PULSE_SERVER", pulse.serverAddress().toUtf8());
    }
    void record(const AudioInputDevice& device) {
        session = PulseAudioCaptureDevices().open(device);
        session->start(
            [this](std::span<const std::int16_t> samples) {
                received.insert(received.end(), samples.begin(), samples.end());
            },
            [this](const Error& error) { errors.push_back(error); });
    }
    bool errorArrives() {
        return testing::eventually([this] { return !errors.empty(); }, 20s, 10ms);
    }

    PrivatePulseAudio pulse{{{QString::fromStdString(builtIn.uniqueId), QString::fromStdString(builtIn.localizedName),
                              "device.form_factor=internal"}}};
    std::vector<std::int16_t> received;
    std::vector<Error> errors;
    std::unique_ptr<AudioCaptureSession> session;
};

TEST_F(PulseAudioCaptureTest, DeliversTheMicrophonesSamplesUnchangedAndNothingOnceStopped) {
    // A second of a ramp that never repeats within it, again and again.
    QByteArray ramp(16000 * 2, '\0');
    for (int i = 0; i < 16000; ++i) {
        const auto sample = static_cast<std::int16_t>(i * 2 - 16000);
        std::memcpy(ramp.data() + i * 2, &sample, 2);
    }
    pulse.playRepeatedly(0, ramp, 0.0);
    record(builtIn);
    ASSERT_TRUE(testing::eventually([&] { return received.size() >= 32000 || !errors.empty(); }, 20s, 10ms));
    ASSERT_TRUE(errors.empty()) << errors.front().description();
    // A stretch of 0.1 s from the middle is the ramp, sample for sample, 16 kHz mono 16-bit.
    const auto* first = reinterpret_cast<const std::int16_t*>(ramp.constData());
    const std::span<const std::int16_t> heard(received.data() + 16000, 1600);
    const auto at = std::find(first, first + 16000, heard.front());
    ASSERT_NE(at, first + 16000) << "not the ramp";
    const auto offset = static_cast<std::size_t>(at - first);
    for (std::size_t i = 0; i < heard.size(); ++i) {
        ASSERT_EQ(heard[i], first[(offset + i) % 16000]) << i;
    }

    session->stop();
    const auto size = received.size();
    testing::settle();
    EXPECT_EQ(received.size(), size);
    EXPECT_TRUE(errors.empty());
}

// Each row: what goes wrong, before recording or once audio has come, and the one error it gives.
TEST_F(PulseAudioCaptureTest, EachFailureIsReportedOnceAndSaysWhatWentAway) {
    const AudioInputDevice usb{"alsa_input.usb-gone", "USB Microphone"};
    const auto unplug = [] { testing::ChildProcess::run("pactl", {"unload-module", "module-pipe-source"}); };
    const auto kill = [this] { pulse.kill(); };
    const auto nothing = [] {};
    const std::vector<std::tuple<const char*, AudioInputDevice, std::function<void()>, std::function<void()>, Error>>
        cases{
            {"an input the server does not have", usb, nothing, nothing,
             AppError::captureSetup("Cannot add USB Microphone as input.")},
            {"no server", builtIn, kill, nothing, AppError::soundServerUnreachable("Connection refused")},
            {"the device unplugged while recording", builtIn, nothing, unplug,
             AppError::microphoneStopped(builtIn.localizedName)},
            {"the server killed while recording", builtIn, nothing, kill,
             AppError::microphoneStopped(builtIn.localizedName)},
        };
    for (const auto& [name, device, before, whileRecording, expected] : cases) {
        SCOPED_TRACE(name);
        errors.clear();
        received.clear();
        ASSERT_TRUE(pulse.restart()) << pulse.error().toStdString();
        pulse.playRepeatedly(0, QByteArray(3200, '\0'), 0.0);
        before();
        record(device);
        ASSERT_TRUE(testing::eventually([&] { return !received.empty() || !errors.empty(); }, 20s, 10ms));
        whileRecording();
        ASSERT_TRUE(errorArrives());
        testing::settle();
        EXPECT_EQ(errors, std::vector<Error>{expected});
        session->stop();
    }
}

} // namespace
} // namespace harkwell
