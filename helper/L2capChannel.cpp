#include "L2capChannel.h"

#include "ControlSession.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include <bluetooth/bluetooth.h>
#include <bluetooth/l2cap.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace harkwell::relay {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t controlPsm = 0x1001;
constexpr std::chrono::milliseconds retryPause{500};

bdaddr_t parseAddress(const std::string& address) {
    std::array<unsigned int, 6> parts{};
    char end = 0;
    if (address.size() != 17 || std::sscanf(address.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &parts[0], &parts[1],
                                            &parts[2], &parts[3], &parts[4], &parts[5], &end) != 6) {
        throw ControlChannelError(ControlChannelError::Reason::socketFailure, EINVAL,
                                  "BlueZ gave the AirPods an invalid address: " + address);
    }
    bdaddr_t result{};
    // bdaddr_t holds the address least significant byte first.
    for (size_t index = 0; index < parts.size(); ++index) {
        result.b[5 - index] = static_cast<uint8_t>(parts[index]);
    }
    return result;
}

bool isWorthRetrying(int error) {
    switch (error) {
    case ECONNREFUSED:
    case ENOTCONN:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ETIMEDOUT:
    case EAGAIN:
    case EBUSY:
    case ECONNRESET:
    case ECONNABORTED:
        return true;
    default:
        return false;
    }
}

[[noreturn]] void throwConnectError(int error) {
    if (error == EACCES || error == EPERM) {
        throw ControlChannelError(ControlChannelError::Reason::socketFailure, error,
                                  std::string("Permission denied opening the AirPods control channel: ") +
                                      std::strerror(error));
    }
    if (error == EAFNOSUPPORT || error == EPROTONOSUPPORT) {
        throw ControlChannelError(ControlChannelError::Reason::socketFailure, error,
                                  "Bluetooth is not available: this system has no Bluetooth sockets.");
    }
    throw ControlChannelError(ControlChannelError::Reason::socketFailure, error,
                              std::string("Could not open the AirPods control channel: ") + std::strerror(error));
}

// One connect attempt; returns the connected socket or the error number.
int connectOnce(const bdaddr_t& address, Clock::time_point deadline, UniqueFd& socketFd) {
    socketFd = UniqueFd(::socket(AF_BLUETOOTH, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, BTPROTO_L2CAP));
    if (socketFd.get() < 0) {
        return errno;
    }
    // Some models refuse an unencrypted channel.
    bt_security security{};
    security.level = BT_SECURITY_MEDIUM;
    if (::setsockopt(socketFd.get(), SOL_BLUETOOTH, BT_SECURITY, &security, sizeof security) != 0) {
        return errno;
    }
    sockaddr_l2 peer{};
    peer.l2_family = AF_BLUETOOTH;
    peer.l2_psm = htobs(controlPsm);
    peer.l2_bdaddr = address;
    peer.l2_bdaddr_type = BDADDR_BREDR;
    if (::connect(socketFd.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        return 0;
    }
    if (errno != EINPROGRESS) {
        return errno;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd entry{socketFd.get(), POLLOUT, 0};
    const int ready = ::poll(&entry, 1, left > 0 ? static_cast<int>(left) : 0);
    if (ready <= 0) {
        return ready == 0 ? ETIMEDOUT : errno;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socketFd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

} // namespace

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

UniqueFd openL2capControlChannel(const std::string& address, Clock::time_point deadline) {
    const bdaddr_t peer = parseAddress(address);
    while (true) {
        UniqueFd socketFd;
        const int error = connectOnce(peer, deadline, socketFd);
        if (error == 0) {
            // The session waits with poll; plain blocking sends from here on.
            ::fcntl(socketFd.get(), F_SETFL, ::fcntl(socketFd.get(), F_GETFL) & ~O_NONBLOCK);
            return socketFd;
        }
        if (!isWorthRetrying(error) || Clock::now() + retryPause >= deadline) {
            throwConnectError(error);
        }
        // AirPods often refuse the first connect right after the link comes up.
        std::this_thread::sleep_for(retryPause);
    }
}

} // namespace harkwell::relay
