#include "locale/AppError.h"

#include "TestLocale.h"

#include <gtest/gtest.h>

namespace harkwell {
namespace {

using testing::useLocale;

class AppErrorTest : public ::testing::Test {
protected:
    testing::TestLocale restoresTheLanguage;
};

TEST_F(AppErrorTest, MessagesAreEnglishInBothLanguagesExceptNotConnected) {
    const std::vector<std::pair<AppError, std::string>> cases{
        {AppError::speechUnavailable(AppLocale::korean), "Speech recognizer is unavailable for ko-KR."},
        {AppError::onDeviceSpeechUnavailable(AppLocale::english),
         "On-device speech recognition is unavailable for en-US."},
        {AppError::permissionDenied("Microphone"), "Microphone permission was denied."},
        {AppError::captureSetup("Cannot add audio output."), "Audio capture setup failed: Cannot add audio output."},
        {AppError::soundServerUnreachable("Connection refused"),
         "Audio capture setup failed: The sound server (PulseAudio or PipeWire) cannot be reached: Connection "
         "refused. Start it and try again."},
        {AppError::microphoneStopped("Built-in Audio Analog Stereo"),
         "Audio capture setup failed: The microphone Built-in Audio Analog Stereo stopped delivering audio: it was "
         "disconnected or the sound server went away."},
        {AppError::helperMissing("/opt/harkwell/libexec/harkwell/ModeRelay"),
         "AirPods helper was not found at /opt/harkwell/libexec/harkwell/ModeRelay."},
        {AppError::helperFailed(""), ""},
        {AppError::helperFailed("Bluetooth is off\n"), "Bluetooth is off\n"},
        {AppError::unknownMode("garbage"), "Could not parse AirPods mode from helper output: garbage"},
        {AppError::microphoneMissing(), "Built-in microphone was not found."},
        {AppError::helperTimedOut(), "AirPods helper timed out."},
    };
    for (const auto* locale : {"ko-KR", "en-US"}) {
        useLocale(locale);
        for (const auto& [error, message] : cases) {
            EXPECT_EQ(error.errorDescription(), message) << locale;
            EXPECT_EQ(Error(error).description(), message);
        }
    }
}

TEST_F(AppErrorTest, NotConnectedFollowsTheInterfaceLanguage) {
    useLocale("en-US");
    EXPECT_EQ(AppError::airPodsNotConnected().errorDescription(),
              "AirPods are not connected. Connect them and try again.");
    EXPECT_EQ(AppError::chosenMicrophoneMissing().errorDescription(), "The chosen microphone is not connected.");
    useLocale("ko-KR");
    EXPECT_EQ(AppError::airPodsNotConnected().errorDescription(),
              "AirPods가 연결되어 있지 않습니다. 연결한 뒤 다시 시도해 주세요.");
    EXPECT_EQ(AppError::chosenMicrophoneMissing().errorDescription(), "선택한 마이크가 연결되어 있지 않습니다.");
    EXPECT_STREQ(AppError::airPodsNotConnected().what(),
                 "AirPods가 연결되어 있지 않습니다. 연결한 뒤 다시 시도해 주세요.");
}

TEST_F(AppErrorTest, PlatformErrorsKeepTheirOwnDescription) {
    const auto error = Error::platform("The audio device disappeared.");
    EXPECT_EQ(error.description(), "The audio device disappeared.");
    EXPECT_FALSE(error.appError());
    EXPECT_TRUE(Error(AppError::helperTimedOut()).is(AppError::Kind::helperTimedOut));
    EXPECT_FALSE(error.is(AppError::Kind::helperTimedOut));
}

} // namespace
} // namespace harkwell
