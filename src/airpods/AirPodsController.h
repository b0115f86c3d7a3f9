#pragma once

#include "airpods/AirPodsControl.h"
#include "airpods/CommandResult.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace harkwell {

// Reads and sets the AirPods listening mode through the ModeRelay helper, one helper run per
// call. The helper lives at <installation root>/libexec/harkwell/ModeRelay, in the build tree
// as in an installed tree. Every call blocks (up to the time-out plus the termination grace)
// and needs no event loop, so it runs on a plain worker thread.
class AirPodsController final : public AirPodsControl {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{60'000};
    static constexpr std::chrono::milliseconds defaultTerminationGrace{2'000};
    // The grace of a helper ended by shutDown: quitting does not wait long.
    static constexpr std::chrono::milliseconds shutDownGrace{500};
    // Cap on what is read of the output file, and on the helper's printed output.
    static constexpr size_t outputLimit = size_t{1024} * 1024;

    explicit AirPodsController(const std::filesystem::path& installationRoot = defaultInstallationRoot(),
                               std::chrono::milliseconds timeout = defaultTimeout,
                               std::chrono::milliseconds terminationGrace = defaultTerminationGrace);
    ~AirPodsController() override;
    AirPodsController(const AirPodsController&) = delete;
    AirPodsController& operator=(const AirPodsController&) = delete;

    // The directory above the one holding the running executable.
    static std::filesystem::path defaultInstallationRoot();

    const std::filesystem::path& helperPath() const { return helperPath_; }

    // Removes the helper's answer files that runs ended in the middle of a command (the
    // application or the helper killed) left behind. Called once when the application starts.
    static void removeStaleAnswerFiles();

    ListeningMode currentMode() override;
    ListeningMode prepareBluetoothPermission() override;
    void setMode(ListeningMode mode) override;
    void shutDown() override;

private:
    // Throws AppError::helperMissing / helperTimedOut, std::system_error when the helper cannot be
    // started, std::runtime_error once shut down.
    CommandResult run(const std::vector<std::string>& arguments);
    ListeningMode readMode(const std::string& command);

    std::filesystem::path helperPath_;
    std::chrono::milliseconds timeout_;
    std::chrono::milliseconds terminationGrace_;
    // Readable for good once shutDown was called (an eventfd; -1 when none could be made, and
    // shutDown then only stops later calls).
    int stopFd_;
    std::atomic<bool> isShutDown_{false};
};

} // namespace harkwell
