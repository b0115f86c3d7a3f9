#include "RelayCommand.h"

#include "AirPodsLink.h"

#include <gtest/gtest.h>

#include <functional>

namespace harkwell::relay {
namespace {

TEST(RelayCommandTest, ParsesTheCommandLine) {
    using Command = RelayInvocation::Command;
    // No command: a usage error.
    const std::vector<
        std::tuple<std::vector<std::string>, std::optional<Command>, std::optional<ListeningMode>, std::string>>
        cases{
            {{"current-mode", "--output-file", "/tmp/a"}, Command::currentMode, {}, "/tmp/a"},
            {{"request-permission", "--output-file", "/tmp/a"}, Command::requestPermission, {}, "/tmp/a"},
            {{"--output-file", "/tmp/b", "normal"}, Command::setMode, ListeningMode::normal, "/tmp/b"},
            {{"anc", "--output-file", "/tmp/a"}, Command::setMode, ListeningMode::anc, "/tmp/a"},
            {{"transparency", "--output-file", "/tmp/a"}, Command::setMode, ListeningMode::transparency, "/tmp/a"},
            {{"off", "--output-file", "/tmp/a"}, {}, {}, "/tmp/a"},
            {{"anc", "extra", "--output-file", "/tmp/a"}, {}, {}, "/tmp/a"},
            {{"anc", "--verbose", "--output-file", "/tmp/a"}, {}, {}, "/tmp/a"},
            {{"anc", "--output-file", "/tmp/a", "--output-file", "/tmp/b"}, {}, {}, "/tmp/a"},
            {{"anc", "--output-file"}, {}, {}, ""},
            {{"anc", "--output-file", ""}, {}, {}, ""},
            {{"anc"}, {}, {}, ""},
            {{"--output-file", "/tmp/a"}, {}, {}, "/tmp/a"},
            {{}, {}, {}, ""},
        };
    for (const auto& [arguments, command, mode, outputFile] : cases) {
        const ParsedCommandLine parsed = parseCommandLine(arguments);
        SCOPED_TRACE(::testing::PrintToString(arguments));
        EXPECT_EQ(parsed.outputFile, outputFile);
        ASSERT_EQ(parsed.invocation.has_value(), command.has_value());
        if (command) {
            EXPECT_EQ(parsed.invocation->command, *command);
            EXPECT_EQ(parsed.invocation->mode, mode);
            EXPECT_EQ(parsed.invocation->outputFile, outputFile);
        }
    }
}

// Records the calls in order; reads what onRead gives.
class ScriptedLink final : public AirPodsLink {
public:
    std::function<NoiseControlMode()> onRead = [] { return NoiseControlMode::off; };
    std::vector<std::string> calls;

    void checkBluetoothAccess() override { calls.push_back("check"); }
    NoiseControlMode currentMode() override {
        calls.push_back("read");
        return onRead();
    }
    void setMode(NoiseControlMode mode) override { calls.push_back("set " + std::string(describe(mode))); }
};

RelayResult run(const std::string& command, ScriptedLink& link) {
    link.calls.clear();
    return runRelayCommand(*parseCommandLine({command, "--output-file", "/tmp/unused"}).invocation, link);
}

// Reading, setting, the adaptive note and RelayFailure's exit codes are covered by running the
// program with simulated AirPods and without BlueZ.
TEST(RelayCommandTest, ChecksAccessFirstAndTurnsFailuresIntoExitCodes) {
    ScriptedLink link;
    RelayResult result = run("request-permission", link);
    EXPECT_EQ(link.calls, (std::vector<std::string>{"check", "read"}));
    EXPECT_EQ(outputFileText(result), "normal\nEXIT_CODE=0\n");

    link.onRead = []() -> NoiseControlMode { throw std::runtime_error("broken"); };
    result = run("current-mode", link);
    EXPECT_EQ(link.calls, (std::vector<std::string>{"read"}));
    EXPECT_EQ(outputFileText(result), "broken\nEXIT_CODE=1\n");
    EXPECT_EQ(result.exitCode, 1);
}

} // namespace
} // namespace harkwell::relay
