#include "airpods/AirPodsController.h"

#include "locale/AppError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>
#include <variant>

namespace harkwell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Long enough for the fake helper to start and install its SIGTERM handler first.
constexpr auto hangTimeout = 1500ms;

std::string readFile(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

using ModeOutcome = std::variant<ListeningMode, AppError>;

ModeOutcome readMode(AirPodsController& controller, bool viaPermission = false) {
    try {
        return viaPermission ? controller.prepareBluetoothPermission() : controller.currentMode();
    } catch (const AppError& error) {
        return error;
    }
}

std::optional<AppError> setMode(AirPodsController& controller, ListeningMode mode) {
    try {
        controller.setMode(mode);
    } catch (const AppError& error) {
        return error;
    }
    return std::nullopt;
}

// Both reading calls give `read`; a set fails with the same error, except that it needs no mode word.
void expectEveryCall(AirPodsController& controller, const ModeOutcome& read) {
    EXPECT_EQ(readMode(controller), read);
    EXPECT_EQ(readMode(controller, true), read);
    const auto* error = std::get_if<AppError>(&read);
    EXPECT_EQ(setMode(controller, ListeningMode::transparency),
              error != nullptr && error->kind() != AppError::Kind::unknownMode ? std::optional(*error) : std::nullopt);
}

// A private installation root whose libexec/harkwell/ModeRelay is the fake helper, and a
// private runtime directory for the output file.
class AirPodsControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "harkwell-controller-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        runtime_ = root_ / "runtime";
        record_ = root_ / "record";
        fs::create_directories(root_ / "libexec/harkwell");
        fs::create_directories(runtime_);
        fs::permissions(runtime_, fs::perms::owner_all);
        fs::create_symlink(HARKWELL_FAKE_HELPER, root_ / "libexec/harkwell/ModeRelay");
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        fake({});
    }
    void TearDown() override { fs::remove_all(root_); }

    // Sets exactly these FAKE_HELPER_* variables; the helper always records its run in record_.
    void fake(const std::map<std::string, std::string>& variables) {
        for (const char* name : {"FAKE_HELPER_FILE", "FAKE_HELPER_PRINT", "FAKE_HELPER_EXIT", "FAKE_HELPER_ACTION"}) {
            ::unsetenv(name);
        }
        ::setenv("FAKE_HELPER_RECORD", record_.c_str(), 1);
        for (const auto& [name, value] : variables) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    // Long enough for a helper that does its work, even a slow sanitizer build on a busy
    // machine; only the time-out test waits it out.
    AirPodsController controller(std::chrono::milliseconds timeout = 30s) {
        return AirPodsController(root_, timeout, 200ms);
    }
    // What the fake helper recorded: its three arguments, its process id, the output directory's mode.
    std::vector<std::string> recorded() const {
        std::istringstream text(readFile(record_));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    bool runtimeIsEmpty() const { return fs::is_empty(runtime_); }

    fs::path root_;
    fs::path runtime_;
    fs::path record_;
};

TEST_F(AirPodsControllerTest, MapsEveryHelperOutcome) {
    const AppError notConnected = AppError::airPodsNotConnected();
    const std::vector<std::tuple<const char*, std::map<std::string, std::string>, ModeOutcome>> cases{
        {"mode and success", {{"FAKE_HELPER_FILE", "transparency\nEXIT_CODE=0\n"}}, ListeningMode::transparency},
        {"exit code 7 written, exit status 0", {{"FAKE_HELPER_FILE", "EXIT_CODE=7"}}, notConnected},
        {"exit code 2 printed", {{"FAKE_HELPER_PRINT", "Working\nEXIT_CODE=2\n"}}, notConnected},
        {"nothing written, exit status 7", {{"FAKE_HELPER_EXIT", "7"}}, notConnected},
        {"failure message", {{"FAKE_HELPER_FILE", "No device\nEXIT_CODE=1"}}, AppError::helperFailed("No device")},
        {"no mode word in the file, then the printed text",
         {{"FAKE_HELPER_FILE", "Switching\nEXIT_CODE=0"}, {"FAKE_HELPER_PRINT", "mode: anc"}},
         AppError::unknownMode("Switching\nmode: anc")},
        {"killed by a signal", {{"FAKE_HELPER_ACTION", "crash"}}, AppError::helperFailed("")},
    };
    for (const auto& [name, variables, read] : cases) {
        SCOPED_TRACE(name);
        fake(variables);
        AirPodsController runner = controller();
        expectEveryCall(runner, read);
        EXPECT_TRUE(runtimeIsEmpty()) << "the output file is left behind";
    }
}

TEST_F(AirPodsControllerTest, PassesTheCommandAndAFreshOutputFileInTheRuntimeDirectory) {
    fake({{"FAKE_HELPER_FILE", "anc\nEXIT_CODE=0"}});
    AirPodsController runner = controller();
    const std::regex outputFile(runtime_.string() + "/harkwell-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-"
                                                    "[0-9A-F]{12}\\.log");
    std::set<std::string> paths;
    const auto expectCommand = [&](const std::string& command) {
        const auto lines = recorded();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[0], command);
        EXPECT_EQ(lines[1], "--output-file");
        EXPECT_TRUE(std::regex_match(lines[2], outputFile)) << lines[2];
        paths.insert(lines[2]);
    };
    runner.setMode(ListeningMode::normal);
    expectCommand("normal");
    runner.setMode(ListeningMode::anc);
    expectCommand("anc");
    runner.setMode(ListeningMode::transparency);
    expectCommand("transparency");
    EXPECT_EQ(runner.prepareBluetoothPermission(), ListeningMode::anc);
    expectCommand("request-permission");
    // Every call blocks without an event loop, so a plain worker thread can make it.
    std::thread([&] { EXPECT_EQ(runner.currentMode(), ListeningMode::anc); }).join();
    expectCommand("current-mode");
    EXPECT_EQ(paths.size(), 5u);
    EXPECT_TRUE(runtimeIsEmpty());
}

// No runtime directory, or one open to others: a private directory of its own, removed after.
TEST_F(AirPodsControllerTest, WithoutAPrivateRuntimeDirectoryUsesAPrivateDirectoryAndRemovesIt) {
    const fs::path temporary = root_ / "tmp";
    fs::create_directories(temporary);
    for (const bool shared : {false, true}) {
        SCOPED_TRACE(shared ? "runtime directory open to others" : "no runtime directory");
        if (shared) {
            fs::permissions(runtime_, fs::perms::all);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        ::setenv("TMPDIR", temporary.c_str(), 1);
        fake({{"FAKE_HELPER_FILE", "anc\nEXIT_CODE=0"}});
        EXPECT_EQ(controller().currentMode(), ListeningMode::anc);
        ::unsetenv("TMPDIR");
        const auto lines = recorded();
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(fs::path(lines[2]).parent_path().parent_path(), temporary);
        EXPECT_EQ(lines[4], "700") << "the private directory is open to others";
        EXPECT_TRUE(fs::is_empty(temporary)) << "the private directory is left behind";
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    }
}

TEST_F(AirPodsControllerTest, NeverFollowsALinkAtTheOutputPath) {
    const fs::path target = root_ / "target";
    fake({{"FAKE_HELPER_ACTION", "symlink:" + target.string()},
          {"FAKE_HELPER_FILE", "transparency\nEXIT_CODE=0"},
          {"FAKE_HELPER_EXIT", "1"}});
    AirPodsController runner = controller();
    EXPECT_EQ(readMode(runner), ModeOutcome(AppError::helperFailed("")));
    EXPECT_EQ(readFile(target), "transparency\nEXIT_CODE=0") << "the link's target must be left alone";
    EXPECT_TRUE(runtimeIsEmpty()) << "the link itself is removed";
}

TEST_F(AirPodsControllerTest, ReadsAtMostOneMebibyteOfFileAndOutput) {
    // The exit code line lies beyond the limit, so the exit status 1 counts.
    fake({{"FAKE_HELPER_ACTION", "megabytes"}, {"FAKE_HELPER_EXIT", "1"}});
    AirPodsController runner = controller();
    const std::optional<AppError> error = setMode(runner, ListeningMode::anc);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->kind(), AppError::Kind::helperFailed);
    EXPECT_LE(error->value().size(), 2 * AirPodsController::outputLimit);
    EXPECT_GE(error->value().size(), AirPodsController::outputLimit);
    EXPECT_TRUE(runtimeIsEmpty());
}

TEST_F(AirPodsControllerTest, TimesOutAndEndsTheHelper) {
    for (const std::string action : {"hang", "ignore-term"}) {
        SCOPED_TRACE(action);
        fake({{"FAKE_HELPER_ACTION", action}, {"FAKE_HELPER_FILE", "anc"}});
        AirPodsController runner = controller(hangTimeout);
        EXPECT_EQ(readMode(runner), ModeOutcome(AppError::helperTimedOut()));
        const auto lines = recorded();
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(::kill(std::stoi(lines[3]), 0), -1) << "the helper outlived its command";
        EXPECT_TRUE(runtimeIsEmpty());
    }
}

TEST_F(AirPodsControllerTest, MissingHelperIsReportedWithItsFullPathAndOneThatCannotStartAsAPlatformError) {
    const fs::path helper = root_ / "libexec/harkwell/ModeRelay";
    fs::remove(helper);
    AirPodsController runner = controller();
    expectEveryCall(runner, AppError::helperMissing(helper.string()));
    std::ofstream(helper) << "not a program"; // and not executable
    EXPECT_THAT([&] { runner.setMode(ListeningMode::anc); },
                ::testing::ThrowsMessage<std::system_error>(::testing::HasSubstr(helper.string())));
}

TEST(AirPodsControllerDefaultsTest, InstallationRootIsAboveTheExecutablesDirectory) {
    const fs::path executable = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(AirPodsController::defaultInstallationRoot(), executable.parent_path().parent_path());
    EXPECT_EQ(AirPodsController().helperPath(), executable.parent_path().parent_path() / "libexec/harkwell/ModeRelay");
}

// The real helper with simulated AirPods, as the application runs it.
TEST(AirPodsControllerWithModeRelayTest, ReadsAndSetsTheSimulatedMode) {
    const fs::path simulator = fs::temp_directory_path() / ("harkwell-simulator-" + std::to_string(::getpid()));
    std::ofstream(simulator) << "anc\n";
    ::setenv("HARKWELL_AIRPODS_SIMULATOR", simulator.c_str(), 1);
    AirPodsController runner(HARKWELL_BUILD_ROOT);
    EXPECT_EQ(runner.currentMode(), ListeningMode::anc);
    runner.setMode(ListeningMode::transparency);
    EXPECT_EQ(readFile(simulator), "transparency\n");
    EXPECT_EQ(runner.prepareBluetoothPermission(), ListeningMode::transparency);
    std::ofstream(simulator) << "disconnected\n";
    EXPECT_EQ(setMode(runner, ListeningMode::normal), AppError::airPodsNotConnected());
    fs::remove(simulator);
    ::unsetenv("HARKWELL_AIRPODS_SIMULATOR");
}

} // namespace
} // namespace harkwell
