// SPDX-License-Identifier: MIT
#pragma once

#include "Reply.h"

#include <httplib.h>

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace varno::devserver {

struct RequestContext {
    const httplib::Request& http;
    std::string body;          // decompressed when it came gzipped
    bool gzipped = false;      // whether the body came gzip-compressed
    std::vector<QString> path; // the values of the pattern's :parameters, in order
    QString userId;            // the signed-in user, for routes that need one

    // A query item that appears at most once; nothing when it is missing. 400 when repeated.
    std::optional<QString> query(const char* name) const;
    // The bearer token of the Authorization header, or an empty text.
    QString bearerToken() const;
};

using RouteHandler = std::function<Reply(RequestContext&)>;

// Matches method and path against patterns such as /api/friends/:id. A known path
// with another method is a 405; an unknown path a 404; both with an error sentence.
class Router {
public:
    // `authenticate` runs before the handler of routes added with needsUser set; it
    // fills in ctx.userId or throws a 401.
    explicit Router(std::function<void(RequestContext&)> authenticate)
        : authenticate_(std::move(authenticate)) {}

    void add(std::string method, std::string pattern, RouteHandler handler, bool needsUser = false);

    // Never throws: refusals and internal failures become error replies.
    Reply dispatch(const std::string& method, const std::string& path, RequestContext& ctx) const;

private:
    struct Route {
        std::string method;
        std::vector<std::string> segments;
        RouteHandler handler;
        bool needsUser;
    };
    static bool match(const Route& route, const std::vector<std::string>& segments,
                      std::vector<QString>& params);

    std::vector<Route> routes_;
    std::function<void(RequestContext&)> authenticate_;
};

} // namespace varno::devserver
