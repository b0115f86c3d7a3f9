#pragma once

#include "NoiseControlMode.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace harkwell::relay {

using Packet = std::vector<uint8_t>;

namespace packets {
Packet handshake();
Packet hostCapabilities();
Packet notificationRequest();
// The same packet sets the mode (host to AirPods) and reports it (AirPods to host).
Packet listeningMode(NoiseControlMode mode);

bool isHandshakeReply(const Packet& packet);
// The mode a well-formed listening-mode packet carries; none for any other packet.
std::optional<NoiseControlMode> modeReport(const Packet& packet);
} // namespace packets

// The waits of the control protocol.
struct ProtocolTiming {
    // AirPods drop packets that come back to back.
    std::chrono::milliseconds packetSpacing{50};
    // Without a handshake reply in this time, another program owns the channel.
    std::chrono::milliseconds handshakeTimeout{3000};
    // How long the reading commands wait for a mode report.
    std::chrono::milliseconds reportTimeout{3000};
    // How long a set first waits for the mode report that follows the notification request.
    std::chrono::milliseconds initialReportTimeout{1000};
    // After a report, packets arriving within this time still belong to the same burst.
    std::chrono::milliseconds burstGap{100};
    // How long a set waits for the AirPods to report the new mode.
    std::chrono::milliseconds confirmationTimeout{2500};
};

class ControlChannelError : public std::runtime_error {
public:
    enum class Reason {
        busy,          // connected, but no handshake reply
        closed,        // the AirPods closed the channel
        notConnected,  // the link is not up yet (ENOTCONN): connect again
        socketFailure, // any other socket error; errorNumber() tells which
        noModeReport,  // the AirPods did not report their mode
    };
    ControlChannelError(Reason reason, int errorNumber, const std::string& message)
        : std::runtime_error(message), reason_(reason), errorNumber_(errorNumber) {}
    Reason reason() const { return reason_; }
    int errorNumber() const { return errorNumber_; }

private:
    Reason reason_;
    int errorNumber_;
};

struct SetModeResult {
    enum class Outcome {
        confirmed,   // the AirPods reported the requested mode
        unconfirmed, // they reported nothing (some models do not echo)
        refused,     // they reported another mode
    };
    Outcome outcome;
    std::optional<NoiseControlMode> reportedMode; // for refused: what they stay in
};

// One control session with a pair of AirPods over a connected SOCK_SEQPACKET socket (an L2CAP
// channel, or a socket pair in tests). Does not own the socket. Every wait is bounded by the
// timing; failures are thrown as ControlChannelError.
class ControlSession {
public:
    ControlSession(int socketFd, ProtocolTiming timing);

    // Handshake, host capabilities and notification request.
    void open();
    // The last mode reported since the handshake, waiting for a report when none came yet.
    NoiseControlMode currentMode();
    SetModeResult setMode(NoiseControlMode mode);

private:
    using Clock = std::chrono::steady_clock;

    void send(const Packet& packet);
    // One packet, or none at the deadline.
    std::optional<Packet> receive(Clock::time_point deadline);
    // Handles what arrives until the deadline.
    void pumpUntil(Clock::time_point deadline);
    // Waits for a report and the rest of its burst; false when none came by the deadline.
    bool awaitReport(Clock::time_point deadline);
    void handle(const Packet& packet);

    int fd_;
    ProtocolTiming timing_;
    bool isOpen_ = false;
    Clock::time_point lastSend_{};
    std::optional<NoiseControlMode> lastReport_;
    Clock::time_point lastReportTime_{};
};

} // namespace harkwell::relay
