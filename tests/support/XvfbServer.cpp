#include "XvfbServer.h"

namespace harkwell::testing {

XvfbServer::XvfbServer(const std::string& screen) {
    if (!xvfb_.start("Xvfb", {"-displayfd", std::to_string(xvfb_.reportDescriptor()), "-nolisten", "tcp", "-screen",
                              "0", screen})) {
        error_ = xvfb_.error();
        return;
    }
    // Xvfb writes its display number and a line break once it accepts connections.
    const std::string number = xvfb_.readReportLine(std::chrono::seconds(30));
    if (number.empty()) {
        error_ = "Xvfb did not become ready: " + xvfb_.error() + ": " + xvfb_.log();
        return;
    }
    display_ = ":" + number;
}

} // namespace harkwell::testing
