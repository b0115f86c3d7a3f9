#pragma once

#include <chrono>
#include <string>

namespace harkwell::relay {

// A socket descriptor closed when the object goes.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens the AirPods control channel: an L2CAP SOCK_SEQPACKET socket over classic BR/EDR to PSM
// 0x1001 of `address` ("AA:BB:CC:DD:EE:FF"), encrypted (security level medium). A refused or
// not-yet-ready connect is tried again until `deadline`. Throws ControlChannelError.
UniqueFd openL2capControlChannel(const std::string& address, std::chrono::steady_clock::time_point deadline);

} // namespace harkwell::relay
