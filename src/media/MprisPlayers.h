#pragma once

#include "media/MediaControl.h"

#include <QDBusConnection>

#include <chrono>

namespace harkwell {

// The session's media players through MPRIS: every "org.mpris.MediaPlayer2.*" name on the bus,
// its PlaybackStatus and Metadata (mpris:trackid, xesam:url) read all at once, each within the
// time-out; Pause and Play are sent without waiting for an answer. A player that does not answer
// in time is left out, so that a hanging one costs one time-out, however many there are.
class MprisPlayers final : public MediaPlayers {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{400};

    explicit MprisPlayers(QDBusConnection bus, std::chrono::milliseconds timeout = defaultTimeout);

    std::vector<MediaPlayer> players() override;
    void pause(const std::string& name) override;
    void play(const std::string& name) override;

private:
    void send(const std::string& name, const char* method);

    QDBusConnection bus_;
    std::chrono::milliseconds timeout_;
};

} // namespace harkwell
