#include "airpods/HelperOutputFile.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harkwell {

namespace {

constexpr std::string_view fileNamePrefix = "harkwell-";
constexpr std::string_view fileNameSuffix = ".log";
constexpr size_t uuidLength = 36;

// Whether `name` is "harkwell-{UUID}.log" with a UUID as randomUuidString() writes it.
bool isOutputFileName(std::string_view name) {
    if (name.size() != fileNamePrefix.size() + uuidLength + fileNameSuffix.size() ||
        !name.starts_with(fileNamePrefix) || !name.ends_with(fileNameSuffix)) {
        return false;
    }
    const std::string_view uuid = name.substr(fileNamePrefix.size(), uuidLength);
    for (size_t index = 0; index < uuid.size(); ++index) {
        const char character = uuid[index];
        const bool isHyphenPlace = index == 8 || index == 13 || index == 18 || index == 23;
        const bool isUpperHexDigit = (character >= '0' && character <= '9') || (character >= 'A' && character <= 'F');
        if (isHyphenPlace ? character != '-' : !isUpperHexDigit) {
            return false;
        }
    }
    return true;
}

bool isUsableDirectory(const char* path) {
    struct stat info {};
    return path != nullptr && path[0] == '/' && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(path, W_OK | X_OK) == 0;
}

// The runtime directory is the user's own and closed to others; one that is not (a session
// that points it at a shared folder) is not used for the helper's answer.
bool isPrivateDirectory(const char* path) {
    struct stat info {};
    return isUsableDirectory(path) && ::stat(path, &info) == 0 && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::string makePrivateDirectory() {
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern = isUsableDirectory(temporary) ? temporary : "/tmp";
    pattern += "/harkwell-XXXXXX";
    // mkdtemp makes the directory with mode 0700.
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(),
                                "Cannot create a private directory for the AirPods helper's answer");
    }
    return pattern;
}

} // namespace

std::string randomUuidString() {
    std::array<uint8_t, 16> bytes{};
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t count = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (count < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "Cannot generate a random UUID");
        }
        filled += count > 0 ? static_cast<size_t>(count) : 0;
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    std::string text;
    for (size_t index = 0; index < bytes.size(); ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) {
            text += '-';
        }
        std::array<char, 3> digits{};
        std::snprintf(digits.data(), digits.size(), "%02X", bytes[index]);
        text += digits.data();
    }
    return text;
}

HelperOutputFile::HelperOutputFile() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (isPrivateDirectory(runtime)) {
        directory_ = runtime;
    } else {
        directory_ = makePrivateDirectory();
        ownsDirectory_ = true;
    }
    directoryFd_ = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd_ < 0) {
        const int error = errno;
        if (ownsDirectory_) {
            ::rmdir(directory_.c_str());
        }
        throw std::system_error(error, std::generic_category(), "Cannot open " + directory_);
    }
    name_ = std::string(fileNamePrefix) + randomUuidString() + std::string(fileNameSuffix);
    path_ = directory_ + "/" + name_;
}

HelperOutputFile::~HelperOutputFile() {
    if (ownsDirectory_) {
        remove();
        ::rmdir(directory_.c_str());
    }
    ::close(directoryFd_);
}

std::string HelperOutputFile::read(size_t limit) const {
    const int fd = ::openat(directoryFd_, name_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string text;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        text.resize(limit);
        size_t filled = 0;
        while (filled < limit) {
            const ssize_t count = ::read(fd, text.data() + filled, limit - filled);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                filled = 0; // unreadable: counts as empty
                break;
            }
            if (count == 0) {
                break;
            }
            filled += static_cast<size_t>(count);
        }
        text.resize(filled);
    }
    ::close(fd);
    return text;
}

void HelperOutputFile::remove() const { ::unlinkat(directoryFd_, name_.c_str(), 0); }

size_t HelperOutputFile::removeStaleFiles(std::chrono::seconds minimumAge) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!isPrivateDirectory(runtime)) {
        return 0; // the answers went to private directories of their own
    }
    DIR* directory = ::opendir(runtime);
    if (directory == nullptr) {
        return 0;
    }
    const int directoryFd = ::dirfd(directory);
    const auto latest = std::chrono::system_clock::now() - minimumAge;
    size_t removed = 0;
    while (const dirent* entry = ::readdir(directory)) {
        struct stat info {};
        if (!isOutputFileName(entry->d_name) ||
            ::fstatat(directoryFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != ::geteuid()) {
            continue;
        }
        const auto written =
            std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
        if (written <= latest && ::unlinkat(directoryFd, entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    ::closedir(directory);
    return removed;
}

} // namespace harkwell
