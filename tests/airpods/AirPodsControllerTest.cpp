#include "airpods/AirPodsController.h"

#include "locale/AppError.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <system_error>
#include <thread>
#include <variant>

#include <sys/stat.h>

namespace harkwell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Long enough for a helper that does its work, even a slow sanitizer build on a busy machine;
// only the time-out test waits it out.
constexpr auto generousTimeout = 30s;
// Long enough for the fake helper to start and install its SIGTERM handler first.
constexpr auto hangTimeout = 1500ms;
constexpr auto shortGrace = 200ms;

const std::vector<std::string> fakeVariables{"FAKE_HELPER_FILE", "FAKE_HELPER_PRINT", "FAKE_HELPER_EXIT",
                                             "FAKE_HELPER_ACTION", "FAKE_HELPER_RECORD"};

std::string readFile(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
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
        fs::create_symlink(HARKWELL_FAKE_HELPER, root_ / "libexec/harkwell/ModeRelay");
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        for (const auto& name : fakeVariables) {
            ::unsetenv(name.c_str());
        }
    }
    void TearDown() override { fs::remove_all(root_); }

    void fake(std::map<std::string, std::string> variables) {
        for (const auto& [name, value] : variables) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    AirPodsController controller(std::chrono::milliseconds timeout = generousTimeout) {
        return AirPodsController(root_, timeout, shortGrace);
    }
    bool runtimeIsEmpty() const { return fs::is_empty(runtime_); }

    fs::path root_;
    fs::path runtime_;
    fs::path record_;
};

using ModeOutcome = std::variant<ListeningMode, AppError>;

ModeOutcome readMode(AirPodsController& controller, bool viaPermission) {
    try {
        return viaPermission ? controller.prepareBluetoothPermission() : controller.currentMode();
    } catch (const AppError& error) {
        return error;
    }
}

std::optional<AppError> setMode(AirPodsController& controller, ListeningMode mode) {
    try {
        controller.setMode(mode);
        return std::nullopt;
    } catch (const AppError& error) {
        return error;
    }
}

TEST_F(AirPodsControllerTest, MapsEveryHelperOutcome) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> fake;
        ModeOutcome read;
        std::optional<AppError> set;
    };
    const std::vector<Case> cases{
        {"mode and success", {{"FAKE_HELPER_FILE", "transparency\nEXIT_CODE=0\n"}}, ListeningMode::transparency, {}},
        {"not connected 7",
         {{"FAKE_HELPER_FILE", "EXIT_CODE=7"}},
         AppError::airPodsNotConnected(),
         AppError::airPodsNotConnected()},
        {"not connected 2 despite exit 0",
         {{"FAKE_HELPER_FILE", "EXIT_CODE=2"}},
         AppError::airPodsNotConnected(),
         AppError::airPodsNotConnected()},
        {"failure message",
         {{"FAKE_HELPER_FILE", "No device\nEXIT_CODE=1"}},
         AppError::helperFailed("No device"),
         AppError::helperFailed("No device")},
        {"last exit code counts", {{"FAKE_HELPER_FILE", "EXIT_CODE=1\nanc\nEXIT_CODE=0"}}, ListeningMode::anc, {}},
        {"bad last exit code falls back to the exit status",
         {{"FAKE_HELPER_FILE", "EXIT_CODE=0\nanc\nEXIT_CODE=zero"}, {"FAKE_HELPER_EXIT", "3"}},
         AppError::helperFailed("anc"),
         AppError::helperFailed("anc")},
        {"nothing written, exit 0", {}, AppError::unknownMode(""), {}},
        {"nothing written, exit 7",
         {{"FAKE_HELPER_EXIT", "7"}},
         AppError::airPodsNotConnected(),
         AppError::airPodsNotConnected()},
        {"exit code printed instead",
         {{"FAKE_HELPER_PRINT", "Working\nEXIT_CODE=2\n"}},
         AppError::airPodsNotConnected(),
         AppError::airPodsNotConnected()},
        {"no mode word",
         {{"FAKE_HELPER_FILE", "Switching\nEXIT_CODE=0"}, {"FAKE_HELPER_PRINT", "mode: anc"}},
         AppError::unknownMode("Switching\nmode: anc"),
         {}},
        {"printed text follows the file",
         {{"FAKE_HELPER_FILE", "normal"}, {"FAKE_HELPER_PRINT", "EXIT_CODE=0\n"}},
         ListeningMode::normal,
         {}},
        {"ill-formed UTF-8 file counts as empty",
         {{"FAKE_HELPER_FILE", "\xFFtransparency\nEXIT_CODE=0"}, {"FAKE_HELPER_PRINT", "anc"}},
         ListeningMode::anc,
         {}},
        {"killed by a signal is a failure",
         {{"FAKE_HELPER_ACTION", "crash"}},
         AppError::helperFailed(""),
         AppError::helperFailed("")},
    };
    for (const auto& [name, variables, read, set] : cases) {
        SCOPED_TRACE(name);
        for (const auto& variable : fakeVariables) {
            ::unsetenv(variable.c_str());
        }
        fake(variables);
        AirPodsController runner = controller();
        EXPECT_EQ(readMode(runner, false), read);
        EXPECT_EQ(readMode(runner, true), read);
        EXPECT_EQ(setMode(runner, ListeningMode::transparency), set);
        EXPECT_TRUE(runtimeIsEmpty()) << "the output file is left behind";
    }
}

TEST_F(AirPodsControllerTest, PassesTheCommandAndAFreshOutputFileInTheRuntimeDirectory) {
    fake({{"FAKE_HELPER_RECORD", record_.string()}, {"FAKE_HELPER_FILE", "EXIT_CODE=0"}});
    AirPodsController runner = controller();
    const std::regex outputFile(runtime_.string() + "/harkwell-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-"
                                                    "[0-9A-F]{12}\\.log");
    std::set<std::string> paths;
    for (const auto& [mode, command] :
         std::vector<std::pair<ListeningMode, std::string>>{{ListeningMode::normal, "normal"},
                                                            {ListeningMode::anc, "anc"},
                                                            {ListeningMode::transparency, "transparency"}}) {
        runner.setMode(mode);
        std::istringstream lines(readFile(record_));
        std::string argument, option, path;
        std::getline(lines, argument);
        std::getline(lines, option);
        std::getline(lines, path);
        EXPECT_EQ(argument, command);
        EXPECT_EQ(option, "--output-file");
        EXPECT_TRUE(std::regex_match(path, outputFile)) << path;
        paths.insert(path);
    }
    EXPECT_EQ(paths.size(), 3u);
    EXPECT_THROW(runner.currentMode(), AppError);
    EXPECT_EQ(readFile(record_).substr(0, 13), "current-mode\n");
    EXPECT_THROW(runner.prepareBluetoothPermission(), AppError);
    EXPECT_EQ(readFile(record_).substr(0, 19), "request-permission\n");
}

TEST_F(AirPodsControllerTest, WithoutARuntimeDirectoryUsesAPrivateDirectoryAndRemovesIt) {
    ::unsetenv("XDG_RUNTIME_DIR");
    const fs::path temporary = root_ / "tmp";
    fs::create_directories(temporary);
    ::setenv("TMPDIR", temporary.c_str(), 1);
    // The helper records where it was asked to write; the directory must be private then.
    fake({{"FAKE_HELPER_RECORD", record_.string()}, {"FAKE_HELPER_FILE", "anc\nEXIT_CODE=0"}});
    EXPECT_EQ(controller().currentMode(), ListeningMode::anc);
    std::istringstream lines(readFile(record_));
    std::string path;
    for (int line = 0; line < 3; ++line) {
        std::getline(lines, path);
    }
    EXPECT_EQ(fs::path(path).parent_path().parent_path(), temporary);
    std::string directoryMode;
    std::getline(lines, directoryMode); // the process id
    std::getline(lines, directoryMode);
    EXPECT_EQ(directoryMode, "700") << "the private directory is open to others";
    EXPECT_TRUE(fs::is_empty(temporary)) << "the private directory is left behind";
    ::unsetenv("TMPDIR");
}

TEST_F(AirPodsControllerTest, NeverFollowsALinkAtTheOutputPath) {
    const fs::path target = root_ / "target";
    fake({{"FAKE_HELPER_ACTION", "symlink:" + target.string()},
          {"FAKE_HELPER_FILE", "transparency\nEXIT_CODE=0"},
          {"FAKE_HELPER_EXIT", "1"}});
    AirPodsController runner = controller();
    EXPECT_EQ(readMode(runner, false), ModeOutcome(AppError::helperFailed("")));
    EXPECT_EQ(readFile(target), "transparency\nEXIT_CODE=0") << "the link's target must be left alone";
    EXPECT_TRUE(runtimeIsEmpty()) << "the link itself is removed";
}

TEST_F(AirPodsControllerTest, ReadsAtMostOneMebibyteOfFileAndOutput) {
    fake({{"FAKE_HELPER_ACTION", "megabytes"}, {"FAKE_HELPER_EXIT", "1"}});
    try {
        controller().setMode(ListeningMode::anc);
        FAIL() << "the exit code line lies beyond the limit, so the exit status 1 counts";
    } catch (const AppError& error) {
        EXPECT_EQ(error.kind(), AppError::Kind::helperFailed);
        EXPECT_LE(error.value().size(), 2 * AirPodsController::outputLimit);
        EXPECT_GE(error.value().size(), AirPodsController::outputLimit);
    }
    EXPECT_TRUE(runtimeIsEmpty());
}

TEST_F(AirPodsControllerTest, TimesOutAndEndsTheHelper) {
    for (const std::string action : {"hang", "ignore-term"}) {
        SCOPED_TRACE(action);
        fake({{"FAKE_HELPER_ACTION", action}, {"FAKE_HELPER_FILE", "anc"}, {"FAKE_HELPER_RECORD", record_.string()}});
        AirPodsController runner = controller(hangTimeout);
        EXPECT_EQ(readMode(runner, false), ModeOutcome(AppError::helperTimedOut()));
        std::istringstream lines(readFile(record_));
        std::string line;
        for (int index = 0; index < 4; ++index) {
            std::getline(lines, line);
        }
        const pid_t pid = std::stoi(line);
        EXPECT_EQ(::kill(pid, 0), -1) << "the helper outlived its command";
        EXPECT_TRUE(runtimeIsEmpty());
    }
}

TEST_F(AirPodsControllerTest, RunsOnAThreadWithoutAnEventLoop) {
    fake({{"FAKE_HELPER_FILE", "anc\nEXIT_CODE=0"}});
    std::optional<ListeningMode> mode;
    std::thread([&] { mode = controller().currentMode(); }).join();
    EXPECT_EQ(mode, ListeningMode::anc);
}

TEST_F(AirPodsControllerTest, MissingHelperIsReportedWithItsFullPath) {
    fs::remove(root_ / "libexec/harkwell/ModeRelay");
    const std::string path = (root_ / "libexec/harkwell/ModeRelay").string();
    AirPodsController runner = controller();
    EXPECT_EQ(runner.helperPath(), path);
    EXPECT_EQ(readMode(runner, false), ModeOutcome(AppError::helperMissing(path)));
    EXPECT_EQ(readMode(runner, true), ModeOutcome(AppError::helperMissing(path)));
    EXPECT_EQ(setMode(runner, ListeningMode::anc), AppError::helperMissing(path));
}

TEST_F(AirPodsControllerTest, HelperThatCannotBeStartedIsAPlatformError) {
    const fs::path helper = root_ / "libexec/harkwell/ModeRelay";
    fs::remove(helper);
    std::ofstream(helper) << "not a program";
    try {
        controller().setMode(ListeningMode::anc);
        FAIL() << "a helper without execute permission was started";
    } catch (const AppError& error) {
        FAIL() << "expected a platform error, got " << error.what();
    } catch (const std::system_error& error) {
        EXPECT_NE(std::string(error.what()).find(helper.string()), std::string::npos) << error.what();
    }
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
