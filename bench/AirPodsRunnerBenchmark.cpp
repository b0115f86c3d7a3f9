// Cost of one helper run as the application pays it, next to the bare cost of starting and
// reaping the same program. Run: build/release/bin/airpods_runner_benchmark
//   BareSpawn          posix_spawn + waitpid of the fake helper (the floor)
//   RunnerFakeHelper   AirPodsController::currentMode with the fake helper (output file,
//                      pipe, exit-code parsing, mode reading)
//   RunnerModeRelay    AirPodsController::currentMode with the real ModeRelay and simulated AirPods
#include "airpods/AirPodsController.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// An installation root whose helper is the fake one, answering "anc"; removed at exit.
class FakeInstallation {
public:
    FakeInstallation()
        : root_(fs::temp_directory_path() / ("harkwell-runner-benchmark-" + std::to_string(::getpid()))) {
        fs::create_directories(root_ / "libexec/harkwell");
        fs::create_symlink(HARKWELL_FAKE_HELPER, root_ / "libexec/harkwell/ModeRelay");
        ::setenv("FAKE_HELPER_FILE", "anc\nEXIT_CODE=0\n", 1);
    }
    ~FakeInstallation() { fs::remove_all(root_); }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

const fs::path& fakeRoot() {
    static const FakeInstallation installation;
    return installation.root();
}

void BareSpawn(benchmark::State& state) {
    const std::string helper = (fakeRoot() / "libexec/harkwell/ModeRelay").string();
    const std::string output = (fakeRoot() / "answer.log").string();
    std::vector<char*> argv{const_cast<char*>(helper.c_str()), const_cast<char*>("current-mode"),
                            const_cast<char*>("--output-file"), const_cast<char*>(output.c_str()), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (::posix_spawn(&pid, helper.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("cannot start the fake helper");
            return;
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        fs::remove(output);
    }
}

void RunnerFakeHelper(benchmark::State& state) {
    harkwell::AirPodsController controller(fakeRoot());
    for (auto _ : state) {
        benchmark::DoNotOptimize(controller.currentMode());
    }
}

void RunnerModeRelay(benchmark::State& state) {
    const fs::path simulator = fakeRoot() / "simulated-airpods";
    std::ofstream(simulator) << "transparency\n";
    ::setenv("HARKWELL_AIRPODS_SIMULATOR", simulator.c_str(), 1);
    harkwell::AirPodsController controller(HARKWELL_BUILD_ROOT);
    for (auto _ : state) {
        benchmark::DoNotOptimize(controller.currentMode());
    }
    ::unsetenv("HARKWELL_AIRPODS_SIMULATOR");
}

BENCHMARK(BareSpawn)->Unit(benchmark::kMillisecond);
BENCHMARK(RunnerFakeHelper)->Unit(benchmark::kMillisecond);
BENCHMARK(RunnerModeRelay)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
