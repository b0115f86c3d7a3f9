#include "media/CallMedia.h"

#include "core/Log.h"
#include "core/SerialQueue.h"

#include <utility>

namespace harkwell {

CallMedia::CallMedia(std::shared_ptr<MediaPlayers> players, std::shared_ptr<SoundStreams> streams)
    : players_(std::move(players)), streams_(std::move(streams)),
      queue_(std::make_unique<SerialQueue>("Harkwell.media")) {}

CallMedia::~CallMedia() {
    if (hasMadeWay_) {
        queue_->async([this] { restoreVolumes(); });
    }
    queue_.reset();
}

void CallMedia::makeWay(MediaOnCall action) {
    if (action == MediaOnCall::leave) {
        return;
    }
    hasMadeWay_ = true;
    queue_->async([this, action] {
        if (action == MediaOnCall::pause && players_) {
            const auto started = std::chrono::steady_clock::now();
            const auto players = players_->players();
            for (const auto& name : paused_.toPause(players)) {
                qCInfo(logMedia) << "pausing" << logged(name);
                players_->pause(name);
            }
            qCDebug(logMedia) << players.size() << "media players read in"
                              << std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - started)
                                     .count()
                              << "ms";
        } else if (action == MediaOnCall::lower && streams_) {
            const auto changes = lowered_.toLower(streams_->streams());
            qCInfo(logMedia) << "lowering" << changes.size() << "streams";
            streams_->changeVolumes(changes, volumeRamp);
        }
    });
}

void CallMedia::giveBack() {
    if (!std::exchange(hasMadeWay_, false)) {
        return;
    }
    queue_->async([this] {
        if (players_ && !paused_.isEmpty()) {
            for (const auto& name : paused_.toResume(players_->players())) {
                qCInfo(logMedia) << "resuming" << logged(name);
                players_->play(name);
            }
        }
        restoreVolumes();
    });
}

void CallMedia::restoreVolumes() {
    if (streams_ && !lowered_.isEmpty()) {
        const auto changes = lowered_.toRestore(streams_->streams());
        qCInfo(logMedia) << "restoring the volume of" << changes.size() << "streams";
        streams_->changeVolumes(changes, volumeRamp);
    }
}

void CallMedia::afterQueuedWork(std::function<void()> work) { queue_->async(std::move(work)); }

} // namespace harkwell
