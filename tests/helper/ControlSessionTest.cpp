#include "ControlSession.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <variant>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace harkwell::relay {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Reason = ControlChannelError::Reason;
using Outcome = SetModeResult::Outcome;
using enum NoiseControlMode;

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

struct PeerBehaviour {
    std::vector<Packet> afterHandshake = {handshakeReply}; // without the reply: silent, as a busy channel
    bool closeAfterHandshake = false;
    std::vector<Packet> afterNotificationRequest{};
    enum class OnSet { echo, silence, reportNoiseCancellation, close } onSet = OnSet::echo;
};

// A pair of AirPods at the far end of a SOCK_SEQPACKET socket pair, answering what the
// session sends, on its own thread.
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
    void serve() {
        using OnSet = PeerBehaviour::OnSet;
        std::array<uint8_t, 1024> buffer{};
        pollfd entry{peerFd_, POLLIN, 0};
        while (::poll(&entry, 1, 10000) > 0) {
            const ssize_t count = ::recv(peerFd_, buffer.data(), buffer.size(), 0);
            if (count <= 0) {
                return;
            }
            const Packet packet(buffer.begin(), buffer.begin() + count);
            received_.push_back({packet, Clock::now()});
            std::vector<Packet> answers;
            bool close = false;
            if (packet == packets::handshake()) {
                answers = behaviour_.afterHandshake;
                close = behaviour_.closeAfterHandshake;
            } else if (packet == packets::notificationRequest()) {
                answers = behaviour_.afterNotificationRequest;
            } else if (const auto mode = packets::modeReport(packet)) {
                close = behaviour_.onSet == OnSet::close;
                if (behaviour_.onSet == OnSet::echo) {
                    answers.push_back(report(*mode));
                } else if (behaviour_.onSet == OnSet::reportNoiseCancellation) {
                    answers.push_back(report(noiseCancellation));
                }
            }
            for (const Packet& answer : answers) {
                ::send(peerFd_, answer.data(), answer.size(), MSG_NOSIGNAL);
            }
            if (close) {
                ::shutdown(peerFd_, SHUT_RDWR);
                return;
            }
        }
    }

    PeerBehaviour behaviour_;
    int sessionFd_ = -1;
    int peerFd_ = -1;
    std::thread thread_;
    std::vector<Received> received_;
};

// What `use` gives on a session opened over `fd`, or why the session failed.
template <typename Use>
auto inSession(int fd, Use use) -> std::variant<std::invoke_result_t<Use, ControlSession&>, Reason> {
    try {
        ControlSession session(fd, fastTiming);
        session.open();
        return use(session);
    } catch (const ControlChannelError& error) {
        return error.reason();
    }
}

using ReadOutcome = std::variant<NoiseControlMode, Reason>;
const auto readMode = [](ControlSession& session) { return session.currentMode(); };

TEST(ControlSessionTest, OpensWithHandshakeCapabilitiesAndNotificationsSpacedApart) {
    FakeAirPods airPods({.afterNotificationRequest = {report(transparency)}});
    ProtocolTiming timing = fastTiming;
    timing.packetSpacing = 40ms;
    const auto start = Clock::now();
    ControlSession session(airPods.sessionFd(), timing);
    session.open();
    EXPECT_EQ(session.currentMode(), transparency);
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
    const std::vector<std::tuple<const char*, PeerBehaviour, ReadOutcome>> cases{
        {"one report", {.afterNotificationRequest = {report(adaptive)}}, adaptive},
        {"last report of a burst wins",
         {.afterNotificationRequest = {report(noiseCancellation), battery, report(transparency)}},
         transparency},
        {"report right after the handshake",
         {.afterHandshake = {handshakeReply, report(noiseCancellation)}},
         noiseCancellation},
        {"malformed and truncated packets are ignored",
         {.afterNotificationRequest = {truncatedReport, Packet{0x04}, unknownModeReport, otherSetting, report(off)}},
         off},
        {"no report", {.afterNotificationRequest = {battery, truncatedReport}}, Reason::noModeReport},
        {"silent channel: another program owns it", {.afterHandshake = {}}, Reason::busy},
        {"wrong handshake answer", {.afterHandshake = {Packet{0x02, 0x00, 0x04, 0x00}}}, Reason::busy},
        {"truncated handshake answer", {.afterHandshake = {Packet{0x01, 0x00, 0x04}}}, Reason::busy},
        {"report before the handshake answer does not count",
         {.afterHandshake = {report(off), handshakeReply}},
         Reason::noModeReport},
        {"closed after the handshake", {.closeAfterHandshake = true}, Reason::closed},
    };
    for (const auto& [name, peer, expected] : cases) {
        SCOPED_TRACE(name);
        FakeAirPods airPods(peer);
        EXPECT_EQ(inSession(airPods.sessionFd(), readMode), expected);
    }
}

TEST(ControlSessionTest, SetsTheModeAndReadsTheAnswer) {
    using OnSet = PeerBehaviour::OnSet;
    using Answer = std::pair<Outcome, std::optional<NoiseControlMode>>;
    using SetOutcome = std::variant<Answer, Reason>;
    const Answer confirmed{Outcome::confirmed, transparency};
    const std::vector<std::tuple<const char*, PeerBehaviour, NoiseControlMode, SetOutcome>> cases{
        {"echo confirms", {}, transparency, confirmed},
        {"echo after the report of the old mode",
         {.afterNotificationRequest = {report(noiseCancellation)}},
         transparency,
         confirmed},
        {"silence counts as success", {.onSet = OnSet::silence}, off, Answer{Outcome::unconfirmed, {}}},
        {"another mode reported: refused",
         {.afterNotificationRequest = {report(noiseCancellation)}, .onSet = OnSet::reportNoiseCancellation},
         off,
         Answer{Outcome::refused, noiseCancellation}},
        {"closed instead of answering", {.onSet = OnSet::close}, transparency, Reason::closed},
        {"busy channel", {.afterHandshake = {}}, transparency, Reason::busy},
    };
    for (const auto& [name, peer, requested, expected] : cases) {
        SCOPED_TRACE(name);
        FakeAirPods airPods(peer);
        EXPECT_EQ(inSession(airPods.sessionFd(),
                            [&](ControlSession& session) {
                                const SetModeResult result = session.setMode(requested);
                                return std::pair(result.outcome, result.reportedMode);
                            }),
                  expected);
        const auto& received = airPods.finish();
        if (std::holds_alternative<Reason>(expected)) {
            continue;
        }
        ASSERT_EQ(received.size(), 4u);
        EXPECT_EQ(received.back().packet, (Packet{0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x0D,
                                                  static_cast<uint8_t>(requested), 0x00, 0x00, 0x00}));
    }
}

TEST(ControlSessionTest, ASocketWhoseLinkIsNotUpYetAsksForAnotherConnect) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(inSession(fd, readMode), ReadOutcome(Reason::notConnected));
    ::close(fd);
}

} // namespace
} // namespace harkwell::relay
