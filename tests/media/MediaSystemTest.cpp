// A call's media against real parts: mpv with its MPRIS plugin on a private session bus, playing
// a generated tone into a private PulseAudio server, which pactl reads.
#include "media/CallMedia.h"
#include "media/MprisPlayers.h"
#include "media/PulseAudioStreams.h"

#include "ChildProcess.h"
#include "EventLoop.h"
#include "PrivateBusConnection.h"
#include "PrivatePulseAudio.h"

#include <QObject>

#include <gtest/gtest.h>

#include <future>
#include <iostream>

namespace harkwell {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::eventually;

class MediaSystemTest : public ::testing::Test {
protected:
    MediaSystemTest() {
        EXPECT_TRUE(pulse.error().isEmpty()) << pulse.error().toStdString();
        EXPECT_TRUE(bus.error().isEmpty()) << bus.error().toStdString();
        qputenv("PULSE_SERVER", pulse.serverAddress().toUtf8());
        const std::string tone = directory.filePath("tone.wav").toStdString();
        EXPECT_EQ(ChildProcess::run("sox", {"-n", "-r", "44100", "-c", "2", tone, "synth", "60", "sine", "440"}), 0);
        const std::string home = directory.path().toStdString();
        EXPECT_TRUE(mpv.start("mpv", {"--no-video", "--ao=pulse", "--loop-file=inf", tone},
                              {"PULSE_SERVER=" + pulse.serverAddress().toStdString(),
                               "DBUS_SESSION_BUS_ADDRESS=" + bus.address().toStdString(), "HOME=" + home,
                               "XDG_CONFIG_HOME=" + home, "DISPLAY", "WAYLAND_DISPLAY"}))
            << mpv.error();
        EXPECT_TRUE(eventually([&] { return mpvStatus() == MediaPlayer::Status::playing; }, 20s, 100ms)) << mpv.log();
    }

    std::optional<MediaPlayer::Status> mpvStatus() {
        for (const auto& player : players->players()) {
            if (player.name.starts_with("org.mpris.MediaPlayer2.mpv")) {
                return player.status;
            }
        }
        return std::nullopt;
    }
    // What `pactl list sink-inputs` prints.
    std::string sinkInputs() { return pactl({"list", "sink-inputs"}); }
    std::string pactl(const std::vector<std::string>& arguments) {
        ChildProcess tool;
        EXPECT_TRUE(tool.start("pactl", arguments, {"PULSE_SERVER=" + pulse.serverAddress().toStdString()}));
        tool.waitForLog("\n(never printed)\n", 10s); // until it ends
        return tool.log();
    }
    // Waits for the media's work queued so far.
    static void finish(CallMedia& media) {
        std::promise<void> done;
        media.afterQueuedWork([&] { done.set_value(); });
        ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
    }

    QTemporaryDir directory;
    testing::PrivateDBusDaemon bus;
    testing::PrivatePulseAudio pulse{{}};
    std::shared_ptr<MprisPlayers> players = std::make_shared<MprisPlayers>(testing::connectToPrivateBus(bus, "media"));
    std::shared_ptr<PulseAudioStreams> streams = std::make_shared<PulseAudioStreams>();
    ChildProcess mpv;
};

// Another player on the bus never answers: its object lives on this thread, which waits meanwhile.
TEST_F(MediaSystemTest, ACallPausesThePlayerAndTheReturnResumesItPastAHangingOne) {
    QObject hanging;
    QDBusConnection hangingBus = testing::connectToPrivateBus(bus, "hanging player");
    ASSERT_TRUE(hangingBus.registerObject("/org/mpris/MediaPlayer2", &hanging, QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(hangingBus.registerService("org.mpris.MediaPlayer2.hanging"));
    CallMedia media(players, nullptr);

    const auto called = std::chrono::steady_clock::now();
    media.makeWay(MediaOnCall::pause);
    const auto returned = std::chrono::steady_clock::now();
    finish(media);
    const auto paused = std::chrono::steady_clock::now();
    // The figures for the record: what the caller (the switch's thread) spent, and the media's own work.
    std::cout << "makeWay returned in " << std::chrono::duration<double, std::milli>(returned - called).count()
              << " ms; the players were read and paused in "
              << std::chrono::duration<double, std::milli>(paused - called).count() << " ms\n";
    EXPECT_TRUE(eventually([&] { return mpvStatus() == MediaPlayer::Status::paused; }, 10s, 50ms));

    media.giveBack();
    finish(media);
    EXPECT_TRUE(eventually([&] { return mpvStatus() == MediaPlayer::Status::playing; }, 10s, 50ms));
}

// The stream goes to a quarter of its volume and back, unless the user set another meanwhile.
TEST_F(MediaSystemTest, ACallLowersThePlayingStreamAndTheReturnRestoresItUnlessTheUserChangedIt) {
    // mpv says it plays a little before its stream does.
    ASSERT_TRUE(eventually([&] { return sinkInputs().find("Corked: no") != std::string::npos; }, 10s, 50ms));
    for (const std::string userVolume : {"", "50%"}) {
        SCOPED_TRACE(userVolume);
        CallMedia media(nullptr, streams);
        media.makeWay(MediaOnCall::lower);
        finish(media);
        ASSERT_NE(sinkInputs().find("front-left: 16384 /  25%"), std::string::npos) << sinkInputs();
        if (!userVolume.empty()) {
            pactl({"set-sink-input-volume", std::to_string(streams->streams().at(0).index), userVolume});
        }
        media.giveBack();
        finish(media);
        EXPECT_NE(sinkInputs().find(userVolume.empty() ? "front-left: 65536 / 100%" : "front-left: 32768 /  50%"),
                  std::string::npos)
            << sinkInputs();
        pactl({"set-sink-input-volume", std::to_string(streams->streams().at(0).index), "100%"});
    }
}

} // namespace
} // namespace harkwell
