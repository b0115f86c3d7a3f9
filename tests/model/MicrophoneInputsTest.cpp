#include "model/MicrophoneInputs.h"
#include "EventLoop.h"
#include "ModelFakes.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <thread>

namespace harkwell {
namespace {

using namespace harkwell::testing;

const AudioInputDevice builtIn{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio", true};
const AudioInputDevice usbMicrophone{"alsa_input.usb-Blue_Yeti", "Yeti Stereo Microphone"};
const AudioInputDevice headset{"bluez_input.AA_BB_CC_DD_EE_FF.0", "AirPods Pro", false, true};
const AudioInputDevice outputMonitor{"alsa_output.pci.analog-stereo.monitor", "Monitor of Built-in Audio", false, false,
                                     true};

class MicrophoneInputsTest : public ::testing::Test {
protected:
    ~MicrophoneInputsTest() override {
        audioInputs->release();
        microphones.reset();
    }

    std::shared_ptr<FakeAudioInputs> audioInputs = std::make_shared<FakeAudioInputs>();
    std::unique_ptr<MicrophoneInputs> microphones = std::make_unique<MicrophoneInputs>(audioInputs);
};

// No monitors, Bluetooth inputs last; a server out of reach, or none at all, lists nothing.
TEST_F(MicrophoneInputsTest, ListsTheMicrophonesWithHeadsetsLast) {
    QSignalSpy changes(microphones.get(), &MicrophoneInputs::inputsChanged);
    audioInputs->setDevices({headset, outputMonitor, builtIn, usbMicrophone});
    microphones->refresh();
    const QList<MicrophoneInput> offered{{"alsa_input.pci-0000_00_1f.3.analog-stereo", "Built-in Audio"},
                                         {"alsa_input.usb-Blue_Yeti", "Yeti Stereo Microphone"},
                                         {"bluez_input.AA_BB_CC_DD_EE_FF.0", "AirPods Pro", true}};
    ASSERT_TRUE(eventually([&] { return changes.count() == 1; }));
    EXPECT_EQ(microphones->inputs(), offered);
    // A read begins once the one before has been taken in. The reads are counted as they begin on
    // the reading thread, which may already be at the next one when the test looks.
    ASSERT_TRUE(eventually([&] {
        microphones->refresh();
        return audioInputs->reads() >= 3;
    }));
    EXPECT_EQ(changes.count(), 1) << "the same list notified";

    audioInputs->setUnreachable("Connection refused");
    ASSERT_TRUE(eventually([&] {
        microphones->refresh();
        return changes.count() == 2;
    }));
    EXPECT_TRUE(microphones->inputs().isEmpty());

    MicrophoneInputs none(nullptr);
    none.refresh();
    EXPECT_TRUE(none.inputs().isEmpty());
}

// Inputs are read off the main thread, one read at a time; a late answer arrives once, and one
// that comes after the list has gone is dropped.
TEST_F(MicrophoneInputsTest, AHangingSoundServerHoldsOneReadAndNotTheMainThread) {
    audioInputs->setDevices({usbMicrophone, outputMonitor});
    QSignalSpy changes(microphones.get(), &MicrophoneInputs::inputsChanged);
    audioInputs->hold();
    microphones->refresh();
    ASSERT_TRUE(eventually([&] { return audioInputs->reads() == 1; }));
    microphones->refresh();
    microphones->refresh();
    settle();
    EXPECT_FALSE(audioInputs->hasGivenUp()) << "a read waited on the main thread";
    EXPECT_EQ(changes.count(), 0);

    audioInputs->release();
    ASSERT_TRUE(eventually([&] { return changes.count() == 1; }));
    EXPECT_EQ(microphones->inputs(), (QList<MicrophoneInput>{{"alsa_input.usb-Blue_Yeti", "Yeti Stereo Microphone"}}));

    // Once it has ended, a refresh reads again.
    audioInputs->setDevices({usbMicrophone, builtIn});
    microphones->refresh();
    ASSERT_TRUE(eventually([&] { return changes.count() == 2; }));

    // Going mid-read waits for it and drops what it brings.
    audioInputs->setDevices({builtIn});
    audioInputs->hold();
    microphones->refresh();
    ASSERT_TRUE(eventually([&] { return audioInputs->reads() >= 3; }));
    std::thread server([&] { audioInputs->release(); });
    microphones.reset();
    server.join();
    settle();
    EXPECT_EQ(audioInputs->reads(), 3) << "refreshes asked for during a read were queued behind it";
}

// A chosen input that is gone gives way to the automatic choice (never a headset), else stays chosen.
TEST_F(MicrophoneInputsTest, AChosenMicrophoneThatIsGoneGivesWayToTheAutomaticChoiceOnly) {
    const QString yeti = "alsa_input.usb-Blue_Yeti";
    const QString monitor = "alsa_output.pci.analog-stereo.monitor";
    const std::vector<std::tuple<const char*, QString, std::vector<AudioInputDevice>, std::string, QString, int>> cases{
        {"automatic", "", {usbMicrophone, builtIn}, "", "", 0},
        {"chosen and there", yeti, {builtIn, usbMicrophone}, usbMicrophone.uniqueId, "", 1},
        {"chosen and gone", yeti, {headset, builtIn}, "", "Built-in Audio", 1},
        {"chosen, gone, only a headset left", yeti, {headset}, usbMicrophone.uniqueId, "", 1},
        {"a monitor is no microphone", monitor, {outputMonitor, builtIn}, "", "Built-in Audio", 1},
    };
    for (const auto& [name, chosen, inputs, source, fallback, reads] : cases) {
        SCOPED_TRACE(name);
        audioInputs = std::make_shared<FakeAudioInputs>();
        audioInputs->setDevices(inputs);
        microphones = std::make_unique<MicrophoneInputs>(audioInputs);
        EXPECT_EQ(microphones->setSource(chosen), !chosen.isEmpty());
        std::optional<std::pair<std::string, QString>> answer;
        microphones->resolveSource([&](const std::string& s, const QString& f) { answer.emplace(s, f); });
        ASSERT_TRUE(eventually([&] { return answer.has_value(); }));
        EXPECT_EQ(answer->first, source);
        EXPECT_EQ(answer->second, fallback);
        EXPECT_EQ(audioInputs->reads(), reads);
    }

    // A server out of reach keeps the choice; the listener tells what is wrong.
    audioInputs->setUnreachable("Connection refused");
    std::optional<std::string> source;
    microphones->resolveSource([&](const std::string& s, const QString&) { source = s; });
    ASSERT_TRUE(eventually([&] { return source.has_value(); }));
    EXPECT_EQ(*source, monitor.toStdString());

    // Without a list of inputs the choice is taken as it is, at once.
    MicrophoneInputs unlisted(nullptr);
    unlisted.setSource(yeti);
    unlisted.resolveSource([&](const std::string& s, const QString&) { source = s; });
    EXPECT_EQ(*source, yeti.toStdString());
}

} // namespace
} // namespace harkwell
