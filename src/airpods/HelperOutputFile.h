#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace harkwell {

// The file a helper writes its result to: "harkwell-{UUID}.log" in the per-user runtime
// directory ($XDG_RUNTIME_DIR), or, when that is not set, in a private directory made for this
// file alone. The file is read and deleted without following a symbolic link at its name; the
// private directory goes with the object.
class HelperOutputFile {
public:
    // Throws std::system_error when no directory for the file can be had.
    HelperOutputFile();
    ~HelperOutputFile();
    HelperOutputFile(const HelperOutputFile&) = delete;
    HelperOutputFile& operator=(const HelperOutputFile&) = delete;

    const std::string& path() const { return path_; }

    // At most `limit` bytes of a regular file at the path; empty when there is none or it
    // cannot be read.
    std::string read(size_t limit) const;
    // Deletes whatever is at the path (a link itself, never its target); failures are ignored.
    void remove() const;

    // Removes the files that helpers or an application ended in the middle of a command left in
    // the runtime directory: regular files named as this class names them, owned by the user,
    // last written at least `minimumAge` ago (a younger one may be the answer of a run still in
    // progress). Links are never followed, nor removed; other names and other users' files stay.
    // Returns how many were removed.
    static size_t removeStaleFiles(std::chrono::seconds minimumAge);

private:
    int directoryFd_ = -1;
    std::string directory_;
    bool ownsDirectory_ = false;
    std::string name_;
    std::string path_;
};

// A fresh random UUID in its canonical upper-case form (36 characters with hyphens).
std::string randomUuidString();

} // namespace harkwell
