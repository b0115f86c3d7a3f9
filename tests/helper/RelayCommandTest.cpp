#include "RelayCommand.h"

#include "AirPodsLink.h"
#include "RelayFailure.h"

#include <gtest/gtest.h>

#include <functional>

namespace harkwell::relay {
namespace {

TEST(RelayCommandTest, ParsesTheCommandLine) {
    using Command = RelayInvocation::Command;
    struct Case {
        std::vector<std::string> arguments;
        std::optional<Command> command; // none: a usage error
        std::optional<ListeningMode> mode;
        std::string outputFile;
    };
    const std::vector<Case> cases{
        {{"current-mode", "--output-file", "/tmp/a"}, Command::currentMode, {}, "/tmp/a"},
        {{"request-permission", "--output-file", "/tmp/a"}, Command::requestPermission, {}, "/tmp/a"},
        {{"--output-file", "/tmp/b", "normal"}, Command::setMode, ListeningMode::normal, "/tmp/b"},
        {{"anc", "--output-file", "/tmp/a"}, Command::setMode, ListeningMode::anc, "/tmp/a"},
        {{"transparency", "--output-file", "/tmp/a"}, Command::setMode, ListeningMode::transparency, "/tmp/a"},
        {{"off", "--output-file", "/tmp/a"}, {}, {}, "/tmp/a"},
        {{"Transparency", "--output-file", "/tmp/a"}, {}, {}, "/tmp/a"},
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
        SCOPED_TRACE(arguments.empty() ? "(none)" : arguments.front());
        EXPECT_EQ(parsed.outputFile, outputFile);
        ASSERT_EQ(parsed.invocation.has_value(), command.has_value());
        if (command) {
            EXPECT_EQ(parsed.invocation->command, *command);
            EXPECT_EQ(parsed.invocation->mode, mode);
            EXPECT_EQ(parsed.invocation->outputFile, outputFile);
        }
    }
}

class ScriptedLink final : public AirPodsLink {
public:
    std::function<void()> onCheck = [] {};
    std::function<NoiseControlMode()> onRead = [] { return NoiseControlMode::off; };
    std::function<void(NoiseControlMode)> onSet = [](NoiseControlMode) {};
    std::vector<std::string> calls;

    void checkBluetoothAccess() override {
        calls.push_back("check");
        onCheck();
    }
    NoiseControlMode currentMode() override {
        calls.push_back("read");
        return onRead();
    }
    void setMode(NoiseControlMode mode) override {
        calls.push_back("set " + std::string(describe(mode)));
        onSet(mode);
    }
};

RelayInvocation invocation(const std::string& command) {
    return *parseCommandLine({command, "--output-file", "/tmp/unused"}).invocation;
}

// Reading, setting and the adaptive note are covered by running the program with simulated AirPods.
TEST(RelayCommandTest, ChecksAccessFirstAndTurnsFailuresIntoExitCodes) {
    struct Case {
        const char* name;
        std::string command;
        std::function<void(ScriptedLink&)> script;
        std::vector<std::string> calls;
        std::string fileText;
        int exitCode;
    };
    const std::vector<Case> cases{
        {"permission checks, then reads",
         "request-permission",
         [](ScriptedLink&) {},
         {"check", "read"},
         "normal\nEXIT_CODE=0\n",
         0},
        {"permission refused",
         "request-permission",
         [](ScriptedLink& link) { link.onCheck = [] { throw RelayFailure(exitFailure, bluezUnavailableMessage); }; },
         {"check"},
         std::string(bluezUnavailableMessage) + "\nEXIT_CODE=1\n",
         1},
        {"unexpected error",
         "current-mode",
         [](ScriptedLink& link) { link.onRead = []() -> NoiseControlMode { throw std::runtime_error("broken"); }; },
         {"read"},
         "broken\nEXIT_CODE=1\n",
         1},
    };
    for (const auto& [name, command, script, calls, fileText, exitCode] : cases) {
        SCOPED_TRACE(name);
        ScriptedLink link;
        script(link);
        const RelayResult result = runRelayCommand(invocation(command), link);
        EXPECT_EQ(link.calls, calls);
        EXPECT_EQ(outputFileText(result), fileText);
        EXPECT_EQ(result.exitCode, exitCode);
    }
}

} // namespace
} // namespace harkwell::relay
