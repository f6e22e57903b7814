// SPDX-License-Identifier: MIT
#pragma once

#include <httplib.h>

#include <chrono>

namespace varno::devserver {

// cpp-httplib's threaded server with a deadline for each whole request: its head and
// body must arrive within `requestDeadline` of the request's first byte. The library's
// own read timeout applies to each read alone, so a client that trickles a header line
// every half second would hold a worker for as long as it likes.
class DeadlineServer final : public httplib::Server {
public:
    explicit DeadlineServer(std::chrono::milliseconds requestDeadline)
        : requestDeadline_(requestDeadline) {}

    // Lets a burst of clients queue once bound. The library listens with a backlog of
    // five, and clients past it wait out SYN retries (1, 3, 7 s) before anyone reads them.
    void widenBacklog();

private:
    // Serves one connection: its keep-alive requests, each under the deadline.
    bool process_and_close_socket(socket_t sock) override;
    // Waits up to the keep-alive timeout for the next request; false when the
    // connection stays silent or the server stops.
    bool awaitNextRequest(socket_t sock) const;

    std::chrono::milliseconds requestDeadline_;
};

} // namespace varno::devserver
