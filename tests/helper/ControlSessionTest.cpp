#include "ControlSession.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <variant>

#include <sys/socket.h>
#include <unistd.h>

namespace harkwell::relay {
namespace {

using namespace std::chrono_literals;
using Reason = ControlChannelError::Reason;
using Outcome = SetModeResult::Outcome;
using enum NoiseControlMode;
using Script = std::vector<std::vector<Packet>>;

// Short waits, still long enough for the peer thread to answer on a busy machine: only the
// cases where the AirPods stay silent wait them out.
constexpr ProtocolTiming fastTiming{.packetSpacing = 10ms,
                                    .handshakeTimeout = 500ms,
                                    .reportTimeout = 500ms,
                                    .initialReportTimeout = 300ms,
                                    .burstGap = 100ms,
                                    .confirmationTimeout = 500ms};

const Packet handshakeReply{0x01, 0x00, 0x04, 0x00, 0x00, 0x00};
const Packet closeChannel{};

Packet report(NoiseControlMode mode) { return packets::listeningMode(mode); }

// Runs `use` on a session with AirPods at the far end of a SOCK_SEQPACKET socket pair. On their
// own thread, they answer the session's n-th packet with script[n] (the handshake is the first,
// the set the fourth; closeChannel closes the channel); `early` packets wait on the channel
// before the session opens. Gives what `use` gave, or why the session failed, and what the
// AirPods received.
template <typename Use>
auto converse(const Script& script, Use use, ProtocolTiming timing = fastTiming,
              const std::vector<Packet>& early = {}) {
    std::array<int, 2> fds{};
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds.data()), 0);
    for (const Packet& packet : early) {
        ::send(fds[1], packet.data(), packet.size(), MSG_NOSIGNAL);
    }
    std::vector<Packet> received;
    std::thread airPods([&] {
        std::array<uint8_t, 1024> buffer{};
        for (ssize_t count = 0; (count = ::recv(fds[1], buffer.data(), buffer.size(), 0)) > 0;) {
            received.emplace_back(buffer.begin(), buffer.begin() + count);
            const auto answers = received.size() <= script.size() ? script[received.size() - 1] : std::vector<Packet>{};
            for (const Packet& answer : answers) {
                if (answer == closeChannel) {
                    ::shutdown(fds[1], SHUT_RDWR);
                    return;
                }
                ::send(fds[1], answer.data(), answer.size(), MSG_NOSIGNAL);
            }
        }
    });
    std::variant<std::invoke_result_t<Use, ControlSession&>, Reason> outcome;
    try {
        ControlSession session(fds[0], timing);
        session.open();
        outcome = use(session);
    } catch (const ControlChannelError& error) {
        outcome = error.reason();
    }
    ::close(fds[0]);
    airPods.join();
    ::close(fds[1]);
    return std::pair(outcome, received);
}

using ReadOutcome = std::variant<NoiseControlMode, Reason>;

// Only a report after the handshake's answer counts, not one already waiting on the channel or
// sent before that answer; the last of a burst wins.
TEST(ControlSessionTest, ReadsTheLastReportedMode) {
    const Packet truncatedReport{0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x0D};
    const Packet unknownModeReport{0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x0D, 0x09, 0x00, 0x00, 0x00};
    const Packet otherSetting{0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x1A, 0x01, 0x00, 0x00, 0x00};
    const std::vector<std::tuple<const char*, std::vector<Packet>, Script, ReadOutcome>> cases{
        {"last report of a burst wins",
         {},
         {{handshakeReply}, {}, {report(noiseCancellation), otherSetting, report(transparency)}},
         transparency},
        {"report right after the handshake answer",
         {},
         {{handshakeReply, report(noiseCancellation)}},
         noiseCancellation},
        {"report before the handshake answer", {}, {{report(off), handshakeReply}}, Reason::noModeReport},
        {"report waiting before the handshake", {report(off)}, {{handshakeReply}}, Reason::noModeReport},
        {"report waiting, then one after the answer",
         {report(off)},
         {{handshakeReply, report(transparency)}},
         transparency},
        {"malformed and truncated packets only",
         {},
         {{handshakeReply}, {}, {truncatedReport, Packet{0x04}, unknownModeReport, otherSetting}},
         Reason::noModeReport},
        {"silent channel: another program owns it", {}, {}, Reason::busy},
        {"truncated handshake answer", {}, {{Packet{0x01, 0x00, 0x04}}}, Reason::busy},
        {"closed after the handshake", {}, {{handshakeReply, closeChannel}}, Reason::closed},
    };
    for (const auto& [name, early, script, expected] : cases) {
        SCOPED_TRACE(name);
        const auto read = [](ControlSession& session) { return session.currentMode(); };
        EXPECT_EQ(converse(script, read, fastTiming, early).first, expected);
    }
}

// The session opens with handshake, capabilities and notification request, spaced apart, then sets.
TEST(ControlSessionTest, OpensThenSetsTheModeAndReadsTheAnswer) {
    using Answer = std::pair<Outcome, std::optional<NoiseControlMode>>;
    using SetOutcome = std::variant<Answer, Reason>;
    const std::vector<std::tuple<const char*, Script, NoiseControlMode, SetOutcome>> cases{
        // The report of the old mode comes after the notification request, not as the answer.
        {"echo after the report of the old mode",
         {{handshakeReply}, {}, {report(noiseCancellation)}, {report(transparency)}},
         transparency,
         Answer{Outcome::confirmed, transparency}},
        {"silence counts as success", {{handshakeReply}}, off, Answer{Outcome::unconfirmed, {}}},
        {"another mode reported: refused",
         {{handshakeReply}, {}, {report(noiseCancellation)}, {report(noiseCancellation)}},
         off,
         Answer{Outcome::refused, noiseCancellation}},
        {"closed instead of answering", {{handshakeReply}, {}, {}, {closeChannel}}, transparency, Reason::closed},
    };
    ProtocolTiming timing = fastTiming;
    timing.packetSpacing = 40ms;
    for (const auto& [name, script, requested, expected] : cases) {
        SCOPED_TRACE(name);
        const auto start = std::chrono::steady_clock::now();
        auto opened = start;
        const auto [outcome, received] = converse(
            script,
            [&](ControlSession& session) {
                opened = std::chrono::steady_clock::now();
                const SetModeResult result = session.setMode(requested);
                return std::pair(result.outcome, result.reportedMode);
            },
            timing);
        EXPECT_EQ(outcome, expected);
        // The notification request cannot leave before two spacings have passed.
        EXPECT_GE(opened - start, 2 * timing.packetSpacing);
        EXPECT_EQ(received,
                  (std::vector<Packet>{
                      {0x00, 0x00, 0x04, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
                      {0x04, 0x00, 0x04, 0x00, 0x4D, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
                      {0x04, 0x00, 0x04, 0x00, 0x0F, 0x00, 0xFF, 0xFF, 0xFF, 0xFF},
                      {0x04, 0x00, 0x04, 0x00, 0x09, 0x00, 0x0D, static_cast<uint8_t>(requested), 0x00, 0x00, 0x00}}));
    }
}

TEST(ControlSessionTest, ASocketWhoseLinkIsNotUpYetAsksForAnotherConnect) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    EXPECT_THAT([&] { ControlSession(fd, fastTiming).open(); },
                ::testing::Throws<ControlChannelError>(
                    ::testing::Property(&ControlChannelError::reason, Reason::notConnected)));
    ::close(fd);
}

} // namespace
} // namespace harkwell::relay
