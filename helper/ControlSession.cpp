#include "ControlSession.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>

namespace harkwell::relay {

namespace packets {

namespace {
constexpr std::array<uint8_t, 4> handshakeReplyPrefix{0x01, 0x00, 0x04, 0x00};
constexpr std::array<uint8_t, 7> listeningModePrefix{0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x0D};
} // namespace

Packet handshake() {
    return {0x00, 0x00, 0x04, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}

Packet hostCapabilities() {
    return {0x04, 0x00, 0x04, 0x00, 0x4D, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}

Packet notificationRequest() { return {0x04, 0x00, 0x04, 0x00, 0x0F, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}; }

Packet listeningMode(NoiseControlMode mode) {
    return {0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x0D, static_cast<uint8_t>(mode), 0x00, 0x00, 0x00};
}

bool isHandshakeReply(const Packet& packet) {
    return packet.size() >= handshakeReplyPrefix.size() &&
           std::equal(handshakeReplyPrefix.begin(), handshakeReplyPrefix.end(), packet.begin());
}

std::optional<NoiseControlMode> modeReport(const Packet& packet) {
    if (packet.size() <= listeningModePrefix.size() ||
        !std::equal(listeningModePrefix.begin(), listeningModePrefix.end(), packet.begin())) {
        return std::nullopt;
    }
    return noiseControlModeFromByte(packet[listeningModePrefix.size()]);
}

} // namespace packets

namespace {

[[noreturn]] void throwSocketError(int error, const char* what) {
    using Reason = ControlChannelError::Reason;
    switch (error) {
    case ENOTCONN:
        throw ControlChannelError(Reason::notConnected, error, "The AirPods control channel is not connected yet.");
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
        throw ControlChannelError(Reason::closed, error, "The AirPods closed the control channel.");
    default:
        throw ControlChannelError(Reason::socketFailure, error,
                                  std::string(what) +
                                      " on the AirPods control channel failed: " + std::strerror(error));
    }
}

} // namespace

ControlSession::ControlSession(int socketFd, ProtocolTiming timing) : fd_(socketFd), timing_(timing) {}

void ControlSession::open() {
    send(packets::handshake());
    const auto deadline = Clock::now() + timing_.handshakeTimeout;
    while (true) {
        const auto packet = receive(deadline);
        if (!packet) {
            throw ControlChannelError(ControlChannelError::Reason::busy, 0,
                                      "Another program is using the AirPods control channel.");
        }
        if (packets::isHandshakeReply(*packet)) {
            break;
        }
    }
    isOpen_ = true;
    send(packets::hostCapabilities());
    send(packets::notificationRequest());
}

NoiseControlMode ControlSession::currentMode() {
    if (!awaitReport(Clock::now() + timing_.reportTimeout)) {
        throw ControlChannelError(ControlChannelError::Reason::noModeReport, 0,
                                  "The AirPods did not report their listening mode.");
    }
    return *lastReport_;
}

SetModeResult ControlSession::setMode(NoiseControlMode mode) {
    // Let the report that answers the notification request pass first, so that it is not
    // taken for the answer to the set.
    awaitReport(Clock::now() + timing_.initialReportTimeout);
    send(packets::listeningMode(mode));
    lastReport_.reset();
    const auto deadline = Clock::now() + timing_.confirmationTimeout;
    std::optional<NoiseControlMode> otherMode;
    while (true) {
        const auto packet = receive(deadline);
        if (!packet) {
            break;
        }
        handle(*packet);
        if (lastReport_ == mode) {
            return {SetModeResult::Outcome::confirmed, mode};
        }
        if (lastReport_) {
            otherMode = lastReport_;
        }
    }
    if (otherMode) {
        return {SetModeResult::Outcome::refused, otherMode};
    }
    return {SetModeResult::Outcome::unconfirmed, std::nullopt};
}

void ControlSession::send(const Packet& packet) {
    pumpUntil(lastSend_ + timing_.packetSpacing);
    while (::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL) < 0) {
        if (errno != EINTR) {
            throwSocketError(errno, "Sending");
        }
    }
    lastSend_ = Clock::now();
}

std::optional<Packet> ControlSession::receive(Clock::time_point deadline) {
    std::array<uint8_t, 1024> buffer{};
    while (true) {
        const auto now = Clock::now();
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        pollfd entry{fd_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            throwSocketError(errno, "Waiting");
        }
        if (ready == 0) {
            return std::nullopt;
        }
        const ssize_t count = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (count > 0) {
            return Packet(buffer.begin(), buffer.begin() + count);
        }
        if (count == 0) {
            throw ControlChannelError(ControlChannelError::Reason::closed, 0,
                                      "The AirPods closed the control channel.");
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            throwSocketError(errno, "Receiving");
        }
    }
}

void ControlSession::pumpUntil(Clock::time_point deadline) {
    while (const auto packet = receive(deadline)) {
        handle(*packet);
    }
}

bool ControlSession::awaitReport(Clock::time_point deadline) {
    while (!lastReport_) {
        const auto packet = receive(deadline);
        if (!packet) {
            return false;
        }
        handle(*packet);
    }
    // The rest of the burst: the last report in it is the current mode.
    while (true) {
        const auto burstEnd = std::min(deadline, lastReportTime_ + timing_.burstGap);
        const auto packet = receive(burstEnd);
        if (!packet) {
            return true;
        }
        handle(*packet);
    }
}

void ControlSession::handle(const Packet& packet) {
    if (!isOpen_) {
        return; // left on the channel from before this session's handshake
    }
    if (const auto mode = packets::modeReport(packet)) {
        lastReport_ = mode;
        lastReportTime_ = Clock::now();
    }
}

} // namespace harkwell::relay
