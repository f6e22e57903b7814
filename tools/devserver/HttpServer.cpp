// SPDX-License-Identifier: MIT
#include "HttpServer.h"

#include "Gzip.h"
#include "Routes.h"

#include <cstdio>

namespace varno::devserver {

namespace {
void apply(const Reply& reply, httplib::Response& res) {
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        res.set_header(name.c_str(), value);
    res.set_content(reply.body, reply.contentType.c_str());
}

bool announcesBody(const httplib::Request& req) {
    if (req.has_header("Transfer-Encoding"))
        return true;
    const auto length = req.get_header_value("Content-Length");
    return !length.empty() && length != "0";
}

// Sentences for the errors that cpp-httplib answers on its own, before any route.
QString sentenceFor(int status) {
    switch (status) {
    case 400:
        return QStringLiteral("The request could not be read.");
    case 404:
        return QStringLiteral("There is nothing at this address.");
    case 413:
        return QStringLiteral("The request body is too large.");
    case 414:
        return QStringLiteral("The request address is too long.");
    case 415:
        return QStringLiteral("The request body's encoding is not supported.");
    default:
        return status >= 500 ? QStringLiteral("The development server failed.")
                             : QStringLiteral("The request was refused.");
    }
}
} // namespace

HttpServer::HttpServer(Backend& backend, bool logRequests,
                       std::chrono::milliseconds requestDeadline)
    : backend_(backend), router_([&backend](RequestContext& ctx) { authenticate(backend, ctx); }),
      server_(requestDeadline), logRequests_(logRequests) {
    // Every open connection holds a worker while it is read, so a client that sends
    // half a request and then nothing must not hold one for long: reads give up after
    // a second without data, and so do idle keep-alive connections (cpp-httplib keeps
    // a connection open after answering an unreadable request with 400), and a
    // connection serves a bounded number of requests. A client that trickles its head
    // (a line every half second) passes the read timeout, so a whole request has a
    // deadline too, and there are more workers than a crowd of such clients holds
    // until then.
    server_.new_task_queue = [] { return new httplib::ThreadPool(workers); };
    server_.set_payload_max_length(maxBodyBytes);
    server_.set_read_timeout(readTimeout);
    server_.set_write_timeout(writeTimeout);
    server_.set_keep_alive_timeout(keepAliveTimeout.count());
    server_.set_keep_alive_max_count(keepAliveRequests);

    // Requests without a body are answered before cpp-httplib tries to read one (it would
    // otherwise wait for the connection to close when a DELETE has no Content-Length).
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const auto type = req.get_header_value("Content-Type");
        if (type.rfind("multipart/", 0) == 0) {
            apply(Reply::error(415, QStringLiteral("Send the body as JSON.")), res);
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        const bool bodyMethod = req.method == "POST" || req.method == "PUT" ||
                                req.method == "PATCH" || req.method == "DELETE";
        if (bodyMethod && announcesBody(req))
            return httplib::Server::HandlerResponse::Unhandled;
        if (announcesBody(req))
            res.set_header("Connection", "close"); // its body is left unread
        handle(req, res, {}, false);
        return httplib::Server::HandlerResponse::Handled;
    });
    const auto withBody = [this](const httplib::Request& req, httplib::Response& res,
                                 const httplib::ContentReader& reader) {
        readBodyAndHandle(req, res, reader);
    };
    server_.Post(".*", withBody);
    server_.Put(".*", withBody);
    server_.Patch(".*", withBody);
    server_.Delete(".*", withBody);

    server_.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            apply(Reply::error(res.status, sentenceFor(res.status)), res);
    });
    server_.set_exception_handler(
        [](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
            std::fprintf(stderr, "varno-devserver: %s %s failed\n", req.method.c_str(),
                         req.path.c_str());
            apply(Reply::error(500, sentenceFor(500)), res);
        });
    if (logRequests_)
        server_.set_logger([](const httplib::Request& req, const httplib::Response& res) {
            std::fprintf(stderr, "%s %s -> %d\n", req.method.c_str(), req.path.c_str(), res.status);
        });
    addRoutes(router_, backend_, origin_);
}

int HttpServer::bind(const std::string& host, int port) {
    int bound = -1;
    if (port == 0)
        bound = server_.bind_to_any_port(host);
    else if (server_.bind_to_port(host, port))
        bound = port;
    if (bound <= 0)
        return -1;
    server_.widenBacklog();
    const QString hostText = QString::fromStdString(host);
    origin_ = QStringLiteral("http://%1:%2")
                  .arg(hostText.contains(u':') ? u'[' + hostText + u']' : hostText)
                  .arg(bound);
    return bound;
}

bool HttpServer::run() {
    return server_.listen_after_bind();
}

void HttpServer::readBodyAndHandle(const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) {
    std::string body;
    bool tooLarge = false;
    const bool read = reader([&](const char* data, size_t length) {
        if (body.size() + length > maxDecodedBodyBytes) {
            tooLarge = true;
            return false;
        }
        body.append(data, length);
        return true;
    });
    if (!read) {
        // What is left of the body stays unread, so this connection cannot be reused.
        res.set_header("Connection", "close");
        // cpp-httplib leaves its own reason in the status (413 over the limit, 415 for an
        // unknown Content-Encoding).
        const int status = tooLarge ? 413 : (res.status >= 400 ? res.status : 400);
        apply(Reply::error(status, status == 400
                                       ? QStringLiteral("The request body could not be read.")
                                       : sentenceFor(status)),
              res);
        return;
    }
    // cpp-httplib has already inflated a body sent with Content-Encoding: gzip; a gzip
    // body sent without that header is recognised by its magic bytes.
    bool gzipped = req.get_header_value("Content-Encoding").find("gzip") != std::string::npos;
    if (looksGzipped(body)) {
        auto inflated = gunzip(body, maxDecodedBodyBytes);
        if (!inflated) {
            apply(Reply::error(400, QStringLiteral("The gzip body is damaged or too large.")), res);
            return;
        }
        body = std::move(*inflated);
        gzipped = true;
    }
    handle(req, res, std::move(body), gzipped);
}

void HttpServer::handle(const httplib::Request& req, httplib::Response& res, std::string body,
                        bool gzipped) {
    RequestContext ctx{req, std::move(body), gzipped, {}, {}};
    apply(router_.dispatch(req.method, req.path, ctx), res);
}

} // namespace varno::devserver
