#include "detection/AudioCapture.h"

#include "matching/UnicodeText.h"

#include <algorithm>
#include <array>

namespace harkwell {

namespace {

bool hasBuiltInName(const AudioInputDevice& device) {
    static const std::array<icu::UnicodeString, 3> words{unicode::fromUtf8("macbook"), unicode::fromUtf8("built-in"),
                                                         unicode::fromUtf8("내장")};
    auto name = unicode::fromUtf8(device.localizedName);
    name.toLower();
    return std::any_of(words.begin(), words.end(), [&](const auto& word) { return name.indexOf(word) >= 0; });
}

} // namespace

std::optional<AudioInputDevice> preferredBuiltInMicrophone(const std::vector<AudioInputDevice>& devices) {
    std::vector<AudioInputDevice> microphones;
    std::copy_if(devices.begin(), devices.end(), std::back_inserter(microphones),
                 [](const AudioInputDevice& device) { return !device.isBluetooth && !device.isMonitor; });
    for (const auto& test : std::initializer_list<bool (*)(const AudioInputDevice&)>{
             [](const AudioInputDevice& device) { return device.uniqueId == "BuiltInMicrophoneDevice"; },
             hasBuiltInName,
             [](const AudioInputDevice& device) { return device.isInternal; },
         }) {
        if (const auto found = std::find_if(microphones.begin(), microphones.end(), test); found != microphones.end()) {
            return *found;
        }
    }
    return std::nullopt;
}

} // namespace harkwell
