// SPDX-License-Identifier: MIT
#pragma once

#include "Backend.h"
#include "DeadlineServer.h"
#include "Router.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <string>

namespace varno::devserver {

// cpp-httplib's threaded server in front of the router. Every request body is read
// here with a size limit (also after decompression), so that no route sees more
// than that, and every error the library produces itself gets a JSON body too.
class HttpServer {
public:
    static constexpr std::size_t maxBodyBytes = 4 * 1024 * 1024;
    static constexpr std::size_t maxDecodedBodyBytes = 16 * 1024 * 1024;
    // More than a crowd of slow clients: each open connection holds one while it is read.
    static constexpr std::size_t workers = 512;
    static constexpr std::chrono::seconds defaultRequestDeadline{10};
    static constexpr std::chrono::seconds readTimeout{1};
    static constexpr std::chrono::seconds writeTimeout{5};
    static constexpr std::chrono::seconds keepAliveTimeout{1};
    static constexpr std::size_t keepAliveRequests = 100;

    HttpServer(Backend& backend, bool logRequests,
               std::chrono::milliseconds requestDeadline = defaultRequestDeadline);

    // Binds to host:port (0 picks a free port); returns the port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(); returns false if serving failed.
    bool run();
    // Safe from any thread.
    void stop() { server_.stop(); }

    // http://host:port as clients reach it.
    QString origin() const { return origin_; }

private:
    void handle(const httplib::Request& req, httplib::Response& res, std::string body,
                bool gzipped);
    void readBodyAndHandle(const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader);

    Backend& backend_;
    Router router_;
    DeadlineServer server_;
    QString origin_;
    bool logRequests_;
};

} // namespace varno::devserver
