// SPDX-License-Identifier: MIT
// The development server's request bodies, through its real routes on an in-memory
// database: the first byte picks the route (or the gzip reader), the rest is the body.
// Every body ends in an answer, never a crash or an escaping exception, and every
// refusal carries a sentence that names the problem.

#include "Backend.h"
#include "FuzzCheck.h"
#include "Gzip.h"
#include "Router.h"
#include "Routes.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <iterator>

using namespace varno::devserver;

namespace {

struct Server {
    Backend backend{QStringLiteral(":memory:")};
    QString origin = QStringLiteral("http://127.0.0.1:3000");
    Router router{[this](RequestContext& ctx) { authenticate(backend, ctx); }};
    std::string token;

    Server() {
        addRoutes(router, backend, origin);
        backend.accounts.create(Account{"me", "Me", "me@x.io", std::nullopt, std::nullopt});
        backend.accounts.create(Account{"you", "You", "you@x.io", std::nullopt, std::nullopt});
        token = backend.accounts.startSession(QStringLiteral("me")).toStdString();
    }
};

const char* const routes[] = {"/api/usage",    "/api/auth/exchange", "/batch",    "/dev/users",
                              "/dev/sessions", "/dev/friends",       "/dev/clock"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    static Server server;
    std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t pick = data[0] % (std::size(routes) + 1);
    if (pick == std::size(routes)) {
        const std::size_t limit = 1 << 20;
        if (const std::optional<std::string> inflated = gunzip(body, limit))
            FUZZ_CHECK(inflated->size() <= limit);
        return 0;
    }
    httplib::Request request;
    request.method = "POST";
    request.path = routes[pick];
    request.headers.emplace("Authorization", "Bearer " + server.token);
    request.headers.emplace("Content-Type", "application/json");
    RequestContext ctx{request, std::move(body), false, {}, {}};
    const Reply reply = server.router.dispatch(request.method, request.path, ctx);
    FUZZ_CHECK(reply.status >= 200 && reply.status <= 599);
    if (reply.status >= 400) {
        const QJsonObject error =
            QJsonDocument::fromJson(QByteArray::fromStdString(reply.body)).object();
        FUZZ_CHECK(!error.value(QStringLiteral("error")).toString().isEmpty());
    }
    return 0;
}
