// SPDX-License-Identifier: MIT
#include "Router.h"

#include <cstdio>
#include <exception>

namespace varno::devserver {

namespace {
std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> segments;
    std::string current;
    for (char c : path) {
        if (c == '/') {
            if (!current.empty())
                segments.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        segments.push_back(std::move(current));
    return segments;
}
} // namespace

std::optional<QString> RequestContext::query(const char* name) const {
    const auto count = http.get_param_value_count(name);
    if (count == 0)
        return std::nullopt;
    if (count > 1)
        throw badRequest(QStringLiteral("The query item \"%1\" must appear only once.")
                             .arg(QString::fromUtf8(name)));
    return QString::fromStdString(http.get_param_value(name));
}

QString RequestContext::bearerToken() const {
    const QString header = QString::fromStdString(http.get_header_value("Authorization")).trimmed();
    if (!header.startsWith(QLatin1String("Bearer "), Qt::CaseInsensitive))
        return {};
    return header.mid(7).trimmed();
}

void Router::add(std::string method, std::string pattern, RouteHandler handler, bool needsUser) {
    routes_.push_back(Route{std::move(method), splitPath(pattern), std::move(handler), needsUser});
}

bool Router::match(const Route& route, const std::vector<std::string>& segments,
                   std::vector<QString>& params) {
    if (route.segments.size() != segments.size())
        return false;
    params.clear();
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const auto& expected = route.segments[i];
        if (!expected.empty() && expected.front() == ':')
            params.push_back(QString::fromStdString(segments[i]));
        else if (expected != segments[i])
            return false;
    }
    return true;
}

Reply Router::dispatch(const std::string& method, const std::string& path,
                       RequestContext& ctx) const {
    const auto segments = splitPath(path);
    const std::string effective = method == "HEAD" ? "GET" : method;
    std::string allowed;
    for (const auto& route : routes_) {
        std::vector<QString> params;
        if (!match(route, segments, params))
            continue;
        if (route.method != effective) {
            allowed += (allowed.empty() ? "" : ", ") + route.method;
            continue;
        }
        try {
            ctx.path = std::move(params);
            if (route.needsUser)
                authenticate_(ctx);
            return route.handler(ctx);
        } catch (const HttpError& error) {
            return Reply::error(error.status(), error.sentence());
        } catch (const std::exception& error) {
            std::fprintf(stderr, "varno-devserver: %s %s failed: %s\n", method.c_str(),
                         path.c_str(), error.what());
            return Reply::error(500, QStringLiteral("The development server could not complete "
                                                    "the request."));
        } catch (...) {
            std::fprintf(stderr, "varno-devserver: %s %s failed\n", method.c_str(), path.c_str());
            return Reply::error(500, QStringLiteral("The development server could not complete "
                                                    "the request."));
        }
    }
    if (!allowed.empty()) {
        auto reply = Reply::error(
            405, QStringLiteral("%1 is not allowed here; use %2.")
                     .arg(QString::fromStdString(method), QString::fromStdString(allowed)));
        reply.headers.emplace_back("Allow", allowed);
        return reply;
    }
    return Reply::error(
        404, QStringLiteral("There is nothing at %1.").arg(QString::fromStdString(path).left(200)));
}

} // namespace varno::devserver
