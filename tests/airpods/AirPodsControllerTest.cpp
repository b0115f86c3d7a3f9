#include "airpods/AirPodsController.h"

#include "airpods/HelperOutputFile.h"
#include "locale/AppError.h"

#include <QLoggingCategory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace harkwell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string readFile(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// The AppError that `call` throws, if any.
std::optional<AppError> failure(const std::function<void()>& call) {
    try {
        call();
    } catch (const AppError& error) {
        return error;
    }
    return std::nullopt;
}

// Whether the helper's child, as it recorded it (0: none), ends within 10 s, waiting on its pidfd;
// it is collected either way.
bool childEnds(const std::string& recordedChild) {
    const pid_t child = std::stoi(recordedChild);
    const int fd = child > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, child, 0)) : -1;
    pollfd entry{fd, POLLIN, 0};
    int ready = 0;
    while (fd >= 0 && (ready = ::poll(&entry, 1, 10000)) < 0 && errno == EINTR) {
    }
    if (fd >= 0) {
        ::close(fd);
    }
    if (ready != 1 && child > 0) {
        ::kill(child, SIGKILL);
    }
    ::waitpid(child, nullptr, 0);
    return ready == 1;
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
        fs::create_directories(root_ / "libexec/harkwell");
        fs::create_directories(runtime_);
        fs::permissions(runtime_, fs::perms::owner_all);
        fs::create_symlink(HARKWELL_FAKE_HELPER, root_ / "libexec/harkwell/ModeRelay");
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
        ::setenv("FAKE_HELPER_RECORD", (root_ / "record").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(root_); }

    // Sets exactly these FAKE_HELPER_* variables; the helper always records its run.
    void fake(const std::map<std::string, std::string>& variables) {
        for (const char* name : {"FAKE_HELPER_FILE", "FAKE_HELPER_PRINT", "FAKE_HELPER_EXIT", "FAKE_HELPER_ACTION"}) {
            ::unsetenv(name);
        }
        for (const auto& [name, value] : variables) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    // Long enough for a helper that does its work, even a slow sanitizer build on a busy
    // machine; only the time-out test waits it out.
    AirPodsController controller(std::chrono::milliseconds timeout = 30s) {
        return AirPodsController(root_, timeout, 200ms);
    }
    // What the fake helper recorded: the output path, its process id, the output directory's
    // mode, its child's process id.
    std::array<std::string, 4> recorded() const {
        std::array<std::string, 4> fields;
        std::istringstream(readFile(root_ / "record")) >> fields[0] >> fields[1] >> fields[2] >> fields[3];
        return fields;
    }
    bool runtimeIsEmpty() const { return fs::is_empty(runtime_); }

    fs::path root_;
    fs::path runtime_;
};

TEST_F(AirPodsControllerTest, MapsEveryHelperFailure) {
    const AppError notConnected = AppError::airPodsNotConnected();
    const std::vector<std::tuple<const char*, std::map<std::string, std::string>, AppError>> cases{
        {"exit code 7 written, exit status 0", {{"FAKE_HELPER_FILE", "EXIT_CODE=7"}}, notConnected},
        {"exit code 2 printed", {{"FAKE_HELPER_PRINT", "Working\nEXIT_CODE=2\n"}}, notConnected},
        {"failure message", {{"FAKE_HELPER_FILE", "No device\nEXIT_CODE=1"}}, AppError::helperFailed("No device")},
        {"no mode word in the file, then the printed text",
         {{"FAKE_HELPER_FILE", "Switching\nEXIT_CODE=0"}, {"FAKE_HELPER_PRINT", "mode: anc"}},
         AppError::unknownMode("Switching\nmode: anc")},
        {"killed by a signal", {{"FAKE_HELPER_ACTION", "crash"}}, AppError::helperFailed("")},
    };
    for (const auto& [name, variables, error] : cases) {
        SCOPED_TRACE(name);
        fake(variables);
        AirPodsController runner = controller();
        EXPECT_EQ(failure([&] { runner.currentMode(); }), error);
        // A set needs no mode word.
        EXPECT_EQ(failure([&] { runner.setMode(ListeningMode::anc); }),
                  error.kind() == AppError::Kind::unknownMode ? std::nullopt : std::optional(error));
        EXPECT_TRUE(runtimeIsEmpty()) << "the output file is left behind";
    }
}

// A fresh file in the runtime directory when that is the user's own and closed to
// others; otherwise in a private directory of its own. Both are removed after the run.
TEST_F(AirPodsControllerTest, PutsTheOutputFileInAPrivateDirectoryAndRemovesIt) {
    const fs::path temporary = root_ / "tmp";
    fs::create_directories(temporary);
    ::setenv("TMPDIR", temporary.c_str(), 1);
    std::set<std::string> paths;
    for (const std::string runtime : {"private", "private", "open to others", "none"}) {
        SCOPED_TRACE(runtime);
        if (runtime == "open to others") {
            fs::permissions(runtime_, fs::perms::all);
        } else if (runtime == "none") {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
        fake({{"FAKE_HELPER_FILE", "anc\nEXIT_CODE=0"}});
        EXPECT_EQ(controller().currentMode(), ListeningMode::anc);
        const auto [path, process, mode, child] = recorded();
        paths.insert(path);
        const fs::path directory = fs::path(path).parent_path();
        EXPECT_EQ(runtime == "private" ? directory : directory.parent_path(),
                  runtime == "private" ? runtime_ : temporary);
        EXPECT_EQ(mode, "700") << "the output directory is open to others";
        EXPECT_TRUE(runtimeIsEmpty() && fs::is_empty(temporary)) << "the output file or its directory is left behind";
    }
    EXPECT_EQ(paths.size(), 4u);
    ::unsetenv("TMPDIR");
}

TEST_F(AirPodsControllerTest, NeverFollowsALinkAtTheOutputPath) {
    const fs::path target = root_ / "target";
    fake({{"FAKE_HELPER_ACTION", "symlink:" + target.string()},
          {"FAKE_HELPER_FILE", "transparency\nEXIT_CODE=0"},
          {"FAKE_HELPER_EXIT", "1"}});
    AirPodsController runner = controller();
    EXPECT_EQ(failure([&] { runner.currentMode(); }), AppError::helperFailed(""));
    EXPECT_EQ(readFile(target), "transparency\nEXIT_CODE=0") << "the link's target must be left alone";
    EXPECT_TRUE(runtimeIsEmpty()) << "the link itself is removed";
}

TEST_F(AirPodsControllerTest, ReadsAtMostOneMebibyteOfFileAndOutput) {
    // The exit code line lies beyond the limit, so the exit status 1 counts.
    fake({{"FAKE_HELPER_ACTION", "megabytes"}, {"FAKE_HELPER_EXIT", "1"}});
    AirPodsController runner = controller();
    const std::optional<AppError> error = failure([&] { runner.setMode(ListeningMode::anc); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->kind(), AppError::Kind::helperFailed);
    EXPECT_LE(error->value().size(), 2 * AirPodsController::outputLimit);
    EXPECT_GE(error->value().size(), AirPodsController::outputLimit);
    EXPECT_TRUE(runtimeIsEmpty());
}

// The time-out and quitting (at once, not at the time-out) end the helper under way, even one that
// ignores SIGTERM, with its process group, so that a child it started does not linger; after
// quitting, calls start no helper.
TEST_F(AirPodsControllerTest, TheTimeOutAndQuittingEndTheHelperAndItsChildren) {
    // An orphaned child becomes this process's own, so its process id stays its until collected here.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const fs::path record = root_ / "record.fifo";
    ASSERT_EQ(::mkfifo(record.c_str(), 0600), 0);
    const auto message = [](const std::function<void()>& call) -> std::string {
        try {
            call();
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no failure";
    };
    for (const bool quits : {false, true}) {
        for (const std::string action : {"hang", "ignore-term", "hang-with-child"}) {
            SCOPED_TRACE(action + (quits ? ", quitting" : ", timing out"));
            ::setenv("FAKE_HELPER_RECORD", record.c_str(), 1);
            fake({{"FAKE_HELPER_ACTION", action}, {"FAKE_HELPER_FILE", "anc"}});
            // The time-out leaves the fake helper time to start and install its SIGTERM handler.
            AirPodsController runner = controller(quits ? 10min : 1500ms);
            auto call = std::async(std::launch::async, [&] { return message([&] { runner.currentMode(); }); });
            // The helper writes its record once it runs: the FIFO's reader waits for it.
            std::array<std::string, 4> fields;
            std::ifstream(record) >> fields[0] >> fields[1] >> fields[2] >> fields[3];
            if (quits) {
                runner.shutDown();
            }
            ASSERT_EQ(call.wait_for(60s), std::future_status::ready) << "the call waited for the time-out";
            EXPECT_EQ(call.get(), quits ? "The AirPods helper was ended: Harkwell is quitting."
                                        : AppError::helperTimedOut().what());
            EXPECT_EQ(::kill(std::stoi(fields[1]), 0), -1) << "the helper outlived its command";
            EXPECT_TRUE(runtimeIsEmpty());
            if (action == "hang-with-child") {
                EXPECT_TRUE(childEnds(fields[3])) << "the helper's child outlived it";
            }
            if (quits) {
                ::setenv("FAKE_HELPER_RECORD", (root_ / "later").c_str(), 1);
                fake({{"FAKE_HELPER_FILE", "anc\nEXIT_CODE=0"}});
                EXPECT_THROW(runner.currentMode(), std::runtime_error);
                EXPECT_FALSE(fs::exists(root_ / "later")) << "a helper started after the shut-down";
            }
        }
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// What a run killed in the middle of a command left: only Harkwell's own answer files go, and
// only those too old to belong to a run in progress.
TEST_F(AirPodsControllerTest, RemovesStaleAnswerFilesAndNothingElse) {
    enum class Kind { file, link, directory, othersFile };
    struct Entry {
        const char* what;
        std::string name;
        Kind kind;
        bool isOld;
        bool isKept;
    };
    const auto answerName = [] { return "harkwell-" + randomUuidString() + ".log"; };
    std::string lowerCaseName = answerName();
    std::transform(lowerCaseName.begin(), lowerCaseName.end(), lowerCaseName.begin(), ::tolower);
    std::vector<Entry> entries{
        {"stale answer", answerName(), Kind::file, true, false},
        {"another stale answer", answerName(), Kind::file, true, false},
        {"fresh answer: a run may be in progress", answerName(), Kind::file, false, true},
        {"lower-case UUID", lowerCaseName, Kind::file, true, true},
        {"longer name", answerName() + ".tmp", Kind::file, true, true},
        {"shorter name", "harkwell-1234.log", Kind::file, true, true},
        {"another program's file", "notes.log", Kind::file, true, true},
        {"link to a stale answer elsewhere", answerName(), Kind::link, true, true},
        {"directory", answerName(), Kind::directory, true, true},
    };
    if (::geteuid() == 0) {
        entries.push_back({"another user's answer", answerName(), Kind::othersFile, true, true});
    }
    const fs::path elsewhere = root_ / "elsewhere" / answerName();
    fs::create_directories(elsewhere.parent_path());
    std::ofstream(elsewhere) << "anc\nEXIT_CODE=0\n";
    const timespec hourAgo{::time(nullptr) - 3600, 0};
    const std::array<timespec, 2> oldTimes{hourAgo, hourAgo};
    ASSERT_EQ(::utimensat(AT_FDCWD, elsewhere.c_str(), oldTimes.data(), 0), 0);
    for (const Entry& entry : entries) {
        const fs::path path = runtime_ / entry.name;
        if (entry.kind == Kind::link) {
            fs::create_symlink(elsewhere, path);
        } else if (entry.kind == Kind::directory) {
            fs::create_directory(path);
        } else {
            std::ofstream(path) << "EXIT_CODE=0\n";
        }
        if (entry.kind == Kind::othersFile) {
            ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0);
        }
        if (entry.isOld) {
            ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), oldTimes.data(), AT_SYMLINK_NOFOLLOW), 0) << entry.what;
        }
    }

    AirPodsController::removeStaleAnswerFiles();

    std::set<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(runtime_)) {
        left.insert(entry.path().filename().string());
    }
    for (const Entry& entry : entries) {
        EXPECT_EQ(left.contains(entry.name), entry.isKept) << entry.what;
    }
    EXPECT_EQ(readFile(elsewhere), "anc\nEXIT_CODE=0\n") << "the link's target must be left alone";
}

// Each run is logged with its command, exit code and duration; a failure as a warning.
TEST_F(AirPodsControllerTest, LogsEachRunAndFailuresAsWarnings) {
    static std::vector<std::pair<QtMsgType, QString>> messages;
    messages.clear();
    QLoggingCategory::setFilterRules("harkwell.airpods.info=true");
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext&, const QString& text) { messages.emplace_back(type, text); });
    AirPodsController runner = controller();
    fake({{"FAKE_HELPER_FILE", "anc\nEXIT_CODE=0"}});
    runner.currentMode();
    fake({{"FAKE_HELPER_FILE", "The simulated AirPods are not connected.\nEXIT_CODE=2"}});
    EXPECT_TRUE(failure([&] { runner.setMode(ListeningMode::transparency); }).has_value());
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules({});

    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].first, QtInfoMsg);
    EXPECT_THAT(messages[0].second.toStdString(),
                ::testing::MatchesRegex(R"(Helper "current-mode" exit code 0 in [0-9]+ ms)"));
    EXPECT_EQ(messages[1].first, QtWarningMsg);
    EXPECT_THAT(messages[1].second.toStdString(),
                ::testing::MatchesRegex(
                    R"(Helper "transparency" exit code 2 in [0-9]+ ms: "The simulated AirPods are not connected.")"));
}

TEST_F(AirPodsControllerTest, MissingHelperIsReportedWithItsFullPathAndOneThatCannotStartAsAPlatformError) {
    const fs::path helper = root_ / "libexec/harkwell/ModeRelay";
    fs::remove(helper);
    AirPodsController runner = controller();
    EXPECT_EQ(failure([&] { runner.currentMode(); }), AppError::helperMissing(helper.string()));
    std::ofstream(helper) << "not a program"; // and not executable
    EXPECT_THAT([&] { runner.setMode(ListeningMode::anc); },
                ::testing::ThrowsMessage<std::system_error>(::testing::HasSubstr(helper.string())));
}

// The real helper with simulated AirPods, found where the application looks for it: in
// libexec/harkwell above the directory of the running executable.
TEST(AirPodsControllerWithModeRelayTest, ReadsAndSetsTheSimulatedMode) {
    const fs::path simulator = fs::temp_directory_path() / ("harkwell-simulator-" + std::to_string(::getpid()));
    std::ofstream(simulator) << "adaptive\n";
    ::setenv("HARKWELL_AIRPODS_SIMULATOR", simulator.c_str(), 1);
    AirPodsController runner;
    EXPECT_EQ(runner.currentMode(), ListeningMode::anc) << "Adaptive is noise control on";
    for (const ListeningMode mode : {ListeningMode::normal, ListeningMode::transparency}) {
        runner.setMode(mode);
        EXPECT_EQ(readFile(simulator), std::string(mode.rawValue()) + "\n");
    }
    EXPECT_EQ(runner.prepareBluetoothPermission(), ListeningMode::transparency);
    std::ofstream(simulator) << "disconnected\n";
    EXPECT_EQ(failure([&] { runner.setMode(ListeningMode::anc); }), AppError::airPodsNotConnected());
    fs::remove(simulator);
    ::unsetenv("HARKWELL_AIRPODS_SIMULATOR");
}

} // namespace
} // namespace harkwell
