// SPDX-License-Identifier: MIT
#include "DeadlineServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace varno::devserver {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds duration(time_t seconds, time_t microseconds) {
    return std::chrono::duration_cast<milliseconds>(std::chrono::seconds(seconds) +
                                                    std::chrono::microseconds(microseconds));
}

bool waitFor(int fd, short events, milliseconds timeout) {
    pollfd entry{fd, events, 0};
    int ready = 0;
    do
        ready =
            ::poll(&entry, 1, static_cast<int>(std::max<milliseconds::rep>(timeout.count(), 0)));
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

void addressOf(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    ip = text;
}

// A connection's socket as cpp-httplib reads and writes it, with reads that give up
// at the current request's deadline. It buffers, since the library reads the head a
// byte at a time.
class DeadlineStream final : public httplib::Stream {
public:
    DeadlineStream(socket_t fd, milliseconds readTimeout, milliseconds writeTimeout)
        : fd_(fd), readTimeout_(readTimeout), writeTimeout_(writeTimeout) {}

    void startRequest(Clock::time_point deadline) {
        deadline_ = deadline;
        expired_ = false;
    }
    bool expired() const { return expired_ || Clock::now() >= deadline_; }
    bool hasBuffered() const { return next_ < end_; }

    bool is_readable() const override {
        return hasBuffered() || (!expired() && waitFor(fd_, POLLIN, readWait()));
    }
    bool is_writable() const override { return waitFor(fd_, POLLOUT, writeTimeout_); }

    ssize_t read(char* ptr, size_t size) override {
        if (!hasBuffered()) {
            if (expired() || !waitFor(fd_, POLLIN, readWait())) {
                // A wait that the deadline cut short may end a moment before it.
                expired_ = expired_ || readWait() < readTimeout_;
                return -1;
            }
            ssize_t got = 0;
            do
                got = ::recv(fd_, buffer_, sizeof buffer_, 0);
            while (got < 0 && errno == EINTR);
            if (got <= 0)
                return got;
            next_ = 0;
            end_ = static_cast<size_t>(got);
        }
        const size_t count = std::min(size, end_ - next_);
        std::memcpy(ptr, buffer_ + next_, count);
        next_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable())
            return -1;
        ssize_t sent = 0;
        do
            sent = ::send(fd_, ptr, size, MSG_NOSIGNAL);
        while (sent < 0 && errno == EINTR);
        return sent;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            addressOf(address, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            addressOf(address, ip, port);
    }
    socket_t socket() const override { return fd_; }

private:
    milliseconds readWait() const {
        const auto left = std::chrono::ceil<milliseconds>(deadline_ - Clock::now());
        return std::min(readTimeout_, left);
    }

    socket_t fd_;
    milliseconds readTimeout_;
    milliseconds writeTimeout_;
    Clock::time_point deadline_ = Clock::time_point::max();
    bool expired_ = false;
    char buffer_[4096];
    size_t next_ = 0;
    size_t end_ = 0;
};

} // namespace

void DeadlineServer::widenBacklog() {
    // Listening again on a listening socket only changes its backlog.
    if (svr_sock_ != INVALID_SOCKET)
        ::listen(svr_sock_, SOMAXCONN);
}

bool DeadlineServer::awaitNextRequest(socket_t sock) const {
    // In short steps, so that stopping the server ends idle connections soon.
    const auto until = Clock::now() + duration(keep_alive_timeout_sec_, 0);
    while (svr_sock_ != INVALID_SOCKET) {
        const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now());
        if (left.count() <= 0)
            return false;
        if (waitFor(sock, POLLIN, std::min(left, milliseconds(100))))
            return true;
    }
    return false;
}

bool DeadlineServer::process_and_close_socket(socket_t sock) {
    DeadlineStream stream(sock, duration(read_timeout_sec_, read_timeout_usec_),
                          duration(write_timeout_sec_, write_timeout_usec_));
    bool served = false;
    for (size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
        if (!stream.hasBuffered() && !awaitNextRequest(sock))
            break;
        stream.startRequest(Clock::now() + requestDeadline_);
        bool closed = false;
        served = process_request(stream, left == 1, closed, nullptr);
        // cpp-httplib answers a head it could not finish with 400 and would read on; a
        // client that ran out of time gets no further request.
        if (!served || closed || stream.expired())
            break;
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
}

} // namespace varno::devserver
