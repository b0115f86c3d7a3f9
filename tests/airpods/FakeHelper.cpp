// Stands in for ModeRelay in the runner's tests. It takes the runner's arguments (command,
// "--output-file", path) and does what the environment asks:
//   FAKE_HELPER_FILE    text to write to the output file (nothing written when unset)
//   FAKE_HELPER_PRINT   text to print on standard output
//   FAKE_HELPER_EXIT    exit status (default 0)
//   FAKE_HELPER_RECORD  a file to write the output path, its process id, the output
//                       directory's permissions (octal) and its child's process id (0 for
//                       none) to, one a line
//   FAKE_HELPER_ACTION  "hang", "ignore-term" (hang, ignoring SIGTERM), "hang-with-child" (start
//                       a child that waits for a signal, then hang), "crash" (SIGABRT),
//                       "megabytes" (3 MiB to the file and to standard output), or
//                       "symlink:<target>" (the output path becomes a link to <target>, which
//                       gets FAKE_HELPER_FILE's text instead)
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

int main(int argc, char** argv) {
    const std::string outputPath = argc >= 4 ? argv[3] : "";
    const std::string action = environment("FAKE_HELPER_ACTION");
    if (action == "ignore-term") {
        std::signal(SIGTERM, SIG_IGN); // before the record: a test that has read it may send one
    }
    pid_t child = 0;
    if (action == "hang-with-child") {
        child = ::fork();
        while (child == 0) {
            ::pause();
        }
    }
    if (const std::string record = environment("FAKE_HELPER_RECORD"); !record.empty()) {
        struct stat directory {};
        ::stat(std::filesystem::path(outputPath).parent_path().c_str(), &directory);
        std::ofstream(record) << outputPath << '\n'
                              << ::getpid() << '\n'
                              << std::oct << (directory.st_mode & 0777) << '\n'
                              << std::dec << child;
    }

    std::string fileText = environment("FAKE_HELPER_FILE");
    std::string printText = environment("FAKE_HELPER_PRINT");
    if (action == "megabytes") {
        for (int index = 0; index < 3 * 1024; ++index) {
            fileText += std::string(1023, 'x') + '\n';
        }
        printText = fileText;
        fileText += "EXIT_CODE=0\n";
    }
    std::string writePath = outputPath;
    if (action.starts_with("symlink:")) {
        writePath = action.substr(8);
        if (::symlink(writePath.c_str(), outputPath.c_str()) != 0) {
            return 99;
        }
    }
    if (std::getenv("FAKE_HELPER_FILE") != nullptr || action == "megabytes") {
        std::ofstream(writePath, std::ios::binary) << fileText;
    }
    std::fwrite(printText.data(), 1, printText.size(), stdout);
    std::fflush(stdout);

    while (action == "hang" || action == "ignore-term" || action == "hang-with-child") {
        ::pause();
    }
    if (action == "crash") {
        std::signal(SIGABRT, SIG_DFL);
        std::raise(SIGABRT);
    }
    return std::atoi(environment("FAKE_HELPER_EXIT").c_str());
}
