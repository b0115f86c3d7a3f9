#include "media/MediaMemory.h"

#include <algorithm>
#include <iterator>

namespace harkwell {

std::vector<std::string> PausedPlayers::toPause(const std::vector<MediaPlayer>& players) {
    std::vector<std::string> names;
    for (const auto& player : players) {
        if (player.status == MediaPlayer::Status::playing) {
            paused_[player.name] = player.track;
            names.push_back(player.name);
        }
    }
    return names;
}

std::vector<std::string> PausedPlayers::toResume(const std::vector<MediaPlayer>& players) {
    std::vector<std::string> names;
    for (const auto& player : players) {
        const auto paused = paused_.find(player.name);
        if (paused != paused_.end() && player.status == MediaPlayer::Status::paused && player.track == paused->second) {
            names.push_back(player.name);
        }
    }
    paused_.clear();
    return names;
}

std::vector<VolumeChange> LoweredStreams::toLower(const std::vector<SoundStream>& streams) {
    std::vector<VolumeChange> changes;
    for (const auto& stream : streams) {
        if (stream.isCorked || stream.volume.empty() || lowered_.contains(stream.index)) {
            continue;
        }
        std::vector<std::uint32_t> lowered;
        std::ranges::transform(stream.volume, std::back_inserter(lowered),
                               [](std::uint32_t volume) { return volume / divisor; });
        lowered_[stream.index] = {stream.volume, lowered};
        changes.push_back({stream.index, stream.volume, std::move(lowered)});
    }
    return changes;
}

std::vector<VolumeChange> LoweredStreams::toRestore(const std::vector<SoundStream>& streams) {
    std::vector<VolumeChange> changes;
    for (const auto& stream : streams) {
        const auto lowered = lowered_.find(stream.index);
        if (lowered == lowered_.end() || stream.volume.size() != lowered->second.lowered.size()) {
            continue;
        }
        const bool isUntouched = std::ranges::equal(stream.volume, lowered->second.lowered, [](auto now, auto set) {
            return (now > set ? now - set : set - now) <= tolerance;
        });
        if (isUntouched) {
            changes.push_back({stream.index, stream.volume, lowered->second.own});
        }
    }
    lowered_.clear();
    return changes;
}

} // namespace harkwell
