#pragma once

#include "ChildProcess.h"

#include <string>

namespace harkwell::testing {

// An Xvfb of the test's own: it picks a free display number itself (-displayfd) and listens on
// no TCP port. Ready when the constructor returns; stopped when the object goes.
class XvfbServer {
public:
    // screen: width x height x depth of its one screen.
    explicit XvfbServer(const std::string& screen = "640x480x24");
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N", or empty when the server could not be started; error() then says why.
    const std::string& display() const { return display_; }
    const std::string& error() const { return error_; }

private:
    ChildProcess xvfb_;
    std::string display_;
    std::string error_;
};

} // namespace harkwell::testing
