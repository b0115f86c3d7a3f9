#include "ControlSession.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <thread>
#include <variant>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace harkwell::relay {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Short waits, still long enough for the peer thread to answer on a busy machine: only the
// cases where the AirPods stay silent wait them out.
constexpr ProtocolTiming fastTiming{.packetSpacing = 10ms,
                                    .handshakeTimeout = 500ms,
                                    .reportTimeout = 500ms,
                                    .initialReportTimeout = 300ms,
                                    .burstGap = 100ms,
                                    .confirmationTimeout = 500ms};

const Packet handshakeReply{0x01, 0x00, 0x04, 0x00, 0x00, 0x00};

Packet report(NoiseControlMode mode) { return packets::listeningMode(mode); }

// A pair of AirPods at the far end of a SOCK_SEQPACKET socket pair, answering what the
// session sends, on its own thread.
struct PeerBehaviour {
    std::optional<Packet> handshakeAnswer = handshakeReply; // none: silent, as a busy channel
    std::vector<Packet> afterHandshake{};
    bool closeAfterHandshake = false;
    std::vector<Packet> afterNotificationRequest{};
    enum class OnSet { echo, silence, reportMode, close } onSet = OnSet::echo;
    NoiseControlMode reportedOnSet = NoiseControlMode::noiseCancellation; // for reportMode
};

class FakeAirPods {
public:
    struct Received {
        Packet packet;
        Clock::time_point time;
    };

    explicit FakeAirPods(PeerBehaviour behaviour) : behaviour_(std::move(behaviour)) {
        std::array<int, 2> fds{};
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds.data()) != 0) {
            throw std::runtime_error("socketpair failed");
        }
        sessionFd_ = fds[0];
        peerFd_ = fds[1];
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeAirPods() { finish(); }

    int sessionFd() const { return sessionFd_; }

    // Ends the session's side and returns what the AirPods received.
    const std::vector<Received>& finish() {
        if (thread_.joinable()) {
            ::close(sessionFd_);
            thread_.join();
            ::close(peerFd_);
        }
        return received_;
    }

private:
    void send(const Packet& packet) { ::send(peerFd_, packet.data(), packet.size(), MSG_NOSIGNAL); }
    void sendAll(const std::vector<Packet>& list) {
        for (const Packet& packet : list) {
            send(packet);
        }
    }

    void serve() {
        std::array<uint8_t, 1024> buffer{};
        while (true) {
            pollfd entry{peerFd_, POLLIN, 0};
            if (::poll(&entry, 1, 10000) <= 0) {
                return;
            }
            const ssize_t count = ::recv(peerFd_, buffer.data(), buffer.size(), 0);
            if (count <= 0) {
                return;
            }
            const Packet packet(buffer.begin(), buffer.begin() + count);
            received_.push_back({packet, Clock::now()});
            if (packet == packets::handshake()) {
                if (behaviour_.handshakeAnswer) {
                    send(*behaviour_.handshakeAnswer);
                }
                sendAll(behaviour_.afterHandshake);
                if (behaviour_.closeAfterHandshake) {
                    ::shutdown(peerFd_, SHUT_RDWR);
                    return;
                }
            } else if (packet == packets::notificationRequest()) {
                sendAll(behaviour_.afterNotificationRequest);
            } else if (const auto mode = packets::modeReport(packet)) {
                switch (behaviour_.onSet) {
                case PeerBehaviour::OnSet::echo:
                    send(report(*mode));
                    break;
                case PeerBehaviour::OnSet::silence:
                    break;
                case PeerBehaviour::OnSet::reportMode:
                    send(report(behaviour_.reportedOnSet));
                    break;
                case PeerBehaviour::OnSet::close:
                    ::shutdown(peerFd_, SHUT_RDWR);
                    return;
                }
            }
        }
    }

    PeerBehaviour behaviour_;
    int sessionFd_ = -1;
    int peerFd_ = -1;
    std::thread thread_;
    std::vector<Received> received_;
};

using Reason = ControlChannelError::Reason;
using ReadOutcome = std::variant<NoiseControlMode, Reason>;

ReadOutcome readMode(FakeAirPods& airPods) {
    try {
        ControlSession session(airPods.sessionFd(), fastTiming);
        session.open();
        return session.currentMode();
    } catch (const ControlChannelError& error) {
        return error.reason();
    }
}

TEST(ControlSessionTest, OpensWithHandshakeCapabilitiesAndNotificationsSpacedApart) {
    FakeAirPods airPods({.afterNotificationRequest = {report(NoiseControlMode::transparency)}});
    ProtocolTiming timing = fastTiming;
    timing.packetSpacing = 40ms;
    const auto start = Clock::now();
    ControlSession session(airPods.sessionFd(), timing);
    session.open();
    EXPECT_EQ(session.currentMode(), NoiseControlMode::transparency);
    const auto& received = airPods.finish();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].packet,
              (Packet{0x00, 0x00, 0x04, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(received[1].packet,
              (Packet{0x04, 0x00, 0x04, 0x00, 0x4D, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(received[2].packet, (Packet{0x04, 0x00, 0x04, 0x00, 0x0F, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
    // The third packet cannot leave before two spacings have passed (a lower bound: the
    // receiving thread may only be later).
    EXPECT_GE(received[2].time - start, 2 * timing.packetSpacing);
}

TEST(ControlSessionTest, ReadsTheLastReportedMode) {
    const Packet battery{0x04, 0x00, 0x04, 0x00, 0x04, 0x00, 0x03, 0x02, 0x01, 0x64};
    const Packet truncatedReport{0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x0D};
    const Packet unknownModeReport{0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x0D, 0x09, 0x00, 0x00, 0x00};
    const Packet otherSetting{0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x1A, 0x01, 0x00, 0x00, 0x00};
    struct Case {
        const char* name;
        PeerBehaviour peer;
        ReadOutcome expected;
    };
    const std::vector<Case> cases{
        {"one report", {.afterNotificationRequest = {report(NoiseControlMode::off)}}, NoiseControlMode::off},
        {"last report of a burst wins",
         {.afterNotificationRequest = {report(NoiseControlMode::noiseCancellation), battery,
                                       report(NoiseControlMode::transparency)}},
         NoiseControlMode::transparency},
        {"report right after the handshake",
         {.afterHandshake = {report(NoiseControlMode::noiseCancellation)}},
         NoiseControlMode::noiseCancellation},
        {"adaptive", {.afterNotificationRequest = {report(NoiseControlMode::adaptive)}}, NoiseControlMode::adaptive},
        {"malformed and truncated packets are ignored",
         {.afterNotificationRequest = {truncatedReport, Packet{0x04}, unknownModeReport, otherSetting,
                                       report(NoiseControlMode::off)}},
         NoiseControlMode::off},
        {"no report", {.afterNotificationRequest = {battery, truncatedReport}}, Reason::noModeReport},
        {"silent channel: another program owns it", {.handshakeAnswer = std::nullopt}, Reason::busy},
        {"wrong handshake answer", {.handshakeAnswer = Packet{0x02, 0x00, 0x04, 0x00}}, Reason::busy},
        {"truncated handshake answer", {.handshakeAnswer = Packet{0x01, 0x00, 0x04}}, Reason::busy},
        {"report before the handshake answer does not count",
         {.handshakeAnswer = std::nullopt, .afterHandshake = {report(NoiseControlMode::off), handshakeReply}},
         Reason::noModeReport},
        {"closed after the handshake", {.closeAfterHandshake = true}, Reason::closed},
    };
    for (const auto& [name, peer, expected] : cases) {
        SCOPED_TRACE(name);
        FakeAirPods airPods(peer);
        EXPECT_EQ(readMode(airPods), expected);
    }
}

TEST(ControlSessionTest, SetsTheModeAndReadsTheAnswer) {
    using Outcome = SetModeResult::Outcome;
    struct Case {
        const char* name;
        PeerBehaviour peer;
        NoiseControlMode requested;
        std::variant<SetModeResult, Reason> expected;
    };
    const std::vector<Case> cases{
        {"echo confirms",
         {},
         NoiseControlMode::transparency,
         SetModeResult{Outcome::confirmed, NoiseControlMode::transparency}},
        {"echo after the report of the old mode",
         {.afterNotificationRequest = {report(NoiseControlMode::noiseCancellation)}},
         NoiseControlMode::transparency,
         SetModeResult{Outcome::confirmed, NoiseControlMode::transparency}},
        {"silence counts as success",
         {.onSet = PeerBehaviour::OnSet::silence},
         NoiseControlMode::off,
         SetModeResult{Outcome::unconfirmed, std::nullopt}},
        {"another mode reported: refused",
         {.afterNotificationRequest = {report(NoiseControlMode::noiseCancellation)},
          .onSet = PeerBehaviour::OnSet::reportMode,
          .reportedOnSet = NoiseControlMode::noiseCancellation},
         NoiseControlMode::off,
         SetModeResult{Outcome::refused, NoiseControlMode::noiseCancellation}},
        {"closed instead of answering",
         {.onSet = PeerBehaviour::OnSet::close},
         NoiseControlMode::transparency,
         Reason::closed},
        {"busy channel", {.handshakeAnswer = std::nullopt}, NoiseControlMode::transparency, Reason::busy},
    };
    for (const auto& [name, peer, requested, expected] : cases) {
        SCOPED_TRACE(name);
        FakeAirPods airPods(peer);
        std::variant<SetModeResult, Reason> outcome;
        try {
            ControlSession session(airPods.sessionFd(), fastTiming);
            session.open();
            outcome = session.setMode(requested);
        } catch (const ControlChannelError& error) {
            outcome = error.reason();
        }
        if (std::holds_alternative<SetModeResult>(expected) && std::holds_alternative<SetModeResult>(outcome)) {
            EXPECT_EQ(std::get<SetModeResult>(outcome).outcome, std::get<SetModeResult>(expected).outcome);
            EXPECT_EQ(std::get<SetModeResult>(outcome).reportedMode, std::get<SetModeResult>(expected).reportedMode);
        } else {
            EXPECT_EQ(outcome.index(), expected.index());
            if (std::holds_alternative<Reason>(expected) && std::holds_alternative<Reason>(outcome)) {
                EXPECT_EQ(std::get<Reason>(outcome), std::get<Reason>(expected));
            }
        }
        const auto& received = airPods.finish();
        if (std::holds_alternative<SetModeResult>(expected)) {
            ASSERT_EQ(received.size(), 4u);
            EXPECT_EQ(received.back().packet, (Packet{0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x0D,
                                                      static_cast<uint8_t>(requested), 0x00, 0x00, 0x00}));
        }
    }
}

TEST(ControlSessionTest, ASocketWhoseLinkIsNotUpYetAsksForAnotherConnect) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    ControlSession session(fd, fastTiming);
    try {
        session.open();
        ADD_FAILURE() << "an unconnected socket opened a session";
    } catch (const ControlChannelError& error) {
        EXPECT_EQ(error.reason(), Reason::notConnected);
    }
    ::close(fd);
}

} // namespace
} // namespace harkwell::relay
