// SPDX-License-Identifier: MIT
#include "RecordingProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace varno::test {

struct RecordingProxy::State {
    int listener = -1;
    int port = 0;
    std::atomic<bool> stopping{false};
    mutable std::mutex lock;
    QByteArrayList targets;
    std::vector<std::thread> threads;
};

namespace {

bool waitReadable(int fd, const std::atomic<bool>& stopping) {
    while (!stopping) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 50);
        if (ready > 0)
            return true;
        if (ready < 0)
            return false;
    }
    return false;
}

void tunnel(int client, RecordingProxy::State* state) {
    QByteArray head;
    char buffer[16384];
    while (!head.contains("\r\n\r\n") && head.size() < 65536) {
        if (!waitReadable(client, state->stopping))
            return;
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        head.append(buffer, got);
    }
    const QByteArrayList words = head.left(head.indexOf("\r\n")).split(' ');
    if (words.size() < 2 || words[0] != "CONNECT")
        return;
    const QByteArray target = words[1];
    {
        std::lock_guard guard(state->lock);
        state->targets.append(target);
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(target.mid(target.lastIndexOf(':') + 1).toUInt()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(server);
        return;
    }
    const QByteArray ok = "HTTP/1.1 200 Connection established\r\n\r\n";
    ::send(client, ok.constData(), size_t(ok.size()), MSG_NOSIGNAL);
    pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    while (!state->stopping) {
        if (::poll(ends, 2, 50) < 0)
            break;
        bool done = false;
        for (int i = 0; i < 2 && !done; ++i) {
            if (!(ends[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = ::recv(ends[i].fd, buffer, sizeof buffer, 0);
            done = got <= 0 ||
                   ::send(ends[1 - i].fd, buffer, size_t(got), MSG_NOSIGNAL) != ssize_t(got);
        }
        if (done)
            break;
    }
    ::close(server);
}

} // namespace

RecordingProxy::RecordingProxy() : state_(std::make_shared<State>()) {
    state_->listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(state_->listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(state_->listener, 16) != 0 ||
        ::getsockname(state_->listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("the proxy cannot listen");
    state_->port = ntohs(address.sin_port);
    state_->threads.emplace_back([state = state_.get()] {
        std::vector<std::thread> connections;
        while (waitReadable(state->listener, state->stopping)) {
            const int client = ::accept(state->listener, nullptr, nullptr);
            if (client < 0)
                continue;
            connections.emplace_back([client, state] {
                tunnel(client, state);
                ::close(client);
            });
        }
        for (std::thread& t : connections)
            t.join();
    });
}

RecordingProxy::~RecordingProxy() {
    state_->stopping = true;
    for (std::thread& t : state_->threads)
        t.join();
    ::close(state_->listener);
}

int RecordingProxy::port() const {
    return state_->port;
}

QByteArrayList RecordingProxy::targets() const {
    std::lock_guard guard(state_->lock);
    return state_->targets;
}

} // namespace varno::test
