// SPDX-License-Identifier: MIT
#include "Routes.h"

#include "Crypto.h"
#include "DevSignInPage.h"
#include "JsonInput.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QUrl>

namespace varno::devserver {

namespace {
// The origin the client used to reach us, so that the sign-in page it is sent to
// has exactly the scheme, host and port it already trusts.
QString requestOrigin(const RequestContext& ctx, const QString& ownOrigin) {
    static const QRegularExpression hostPattern(
        QStringLiteral(R"(^(?:[A-Za-z0-9.\-]+|\[[0-9A-Fa-f:.]+\])(?::[0-9]{1,5})?$)"));
    const QString host = QString::fromStdString(ctx.http.get_header_value("Host"));
    if (host.isEmpty() || !hostPattern.match(host).hasMatch())
        return ownOrigin;
    return QStringLiteral("http://") + host;
}

QString requiredQuery(const RequestContext& ctx, const char* name, const QString& sentence) {
    const auto value = ctx.query(name);
    if (!value || value->isEmpty())
        throw badRequest(sentence);
    return *value;
}

void addApiRoutes(Router& router, Backend& b, const QString& ownOrigin) {
    router.add("GET", "/api/auth/github", [&b, &ownOrigin](RequestContext& ctx) {
        const auto challenge = ctx.query("challenge").value_or(QString());
        const auto state = ctx.query("state").value_or(QString());
        b.auth.start(challenge, state);
        const QString url = QStringLiteral("%1/dev/signin?challenge=%2&state=%3")
                                .arg(requestOrigin(ctx, ownOrigin), challenge,
                                     QString::fromLatin1(QUrl::toPercentEncoding(state)));
        return Reply::json(QJsonObject{{"url", url}});
    });

    router.add("POST", "/api/auth/exchange", [&b](RequestContext& ctx) {
        const auto body = parseObjectBody(ctx.body);
        const auto code = body.value(QStringLiteral("code"));
        const auto verifier = body.value(QStringLiteral("verifier"));
        if (!code.isString() || !verifier.isString())
            throw badRequest(QStringLiteral("code and verifier must both be strings."));
        return Reply::json(b.auth.exchange(code.toString(), verifier.toString()));
    });

    // Ending a session that is already gone is still a successful sign-out.
    router.add("POST", "/api/auth/logout", [&b](RequestContext& ctx) {
        if (const auto token = ctx.bearerToken(); !token.isEmpty())
            b.accounts.endSession(token);
        return Reply::ok();
    });

    router.add(
        "POST", "/api/usage",
        [&b](RequestContext& ctx) {
            b.usage.record(ctx.userId, UsageUpload::fromJson(parseObjectBody(ctx.body)));
            return Reply::ok();
        },
        true);

    router.add(
        "GET", "/api/dashboard",
        [&b](RequestContext& ctx) {
            const auto day = parseDay(ctx.query("date").value_or(QString()));
            if (!day.isValid())
                throw badRequest(
                    QStringLiteral("Add the day as date=yyyy-MM-dd, for example date=2026-03-01."));
            return Reply::json(b.dashboards.dashboard(ctx.userId, day));
        },
        true);

    router.add(
        "PATCH", "/api/friends/:id",
        [&b](RequestContext& ctx) {
            b.friends.accept(ctx.userId, ctx.path.at(0));
            return Reply::ok();
        },
        true);

    router.add(
        "DELETE", "/api/friends/:id",
        [&b](RequestContext& ctx) {
            b.friends.remove(ctx.userId, ctx.path.at(0));
            return Reply::ok();
        },
        true);
}

// Ids travel in paths such as /api/friends/{id}, so they keep to path-safe characters.
QString optionalId(const QJsonObject& body, const QString& key) {
    static const QRegularExpression idPattern(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    const auto id = optionalText(body, key, 64);
    if (id && !idPattern.match(*id).hasMatch())
        throw badRequest(
            QStringLiteral("%1 may only use letters, digits, \".\", \"_\" and \"-\".").arg(key));
    return id.value_or(QString());
}

QJsonObject accountJson(const Account& account) {
    QJsonObject object = account.userJson();
    if (account.avatarURL)
        object.insert("avatarURL", *account.avatarURL);
    if (account.referralCode)
        object.insert("referralCode", *account.referralCode);
    return object;
}

void addDevRoutes(Router& router, Backend& b) {
    router.add("GET", "/dev/signin", [&b](RequestContext& ctx) {
        const QString challenge =
            requiredQuery(ctx, "challenge", QStringLiteral("Open this page from Varno's sign-in."));
        const QString state =
            requiredQuery(ctx, "state", QStringLiteral("Open this page from Varno's sign-in."));
        const auto account = ctx.query("account");
        if (!account) {
            b.auth.checkAttempt(challenge, state);
            return Reply::html(renderSignInPage(b.accounts.all(), challenge, state));
        }
        const QString code = b.auth.issueCode(challenge, state, *account);
        return Reply::redirect(callbackUrl(state, QStringLiteral("code"), code));
    });

    router.add("GET", "/dev/users", [&b](RequestContext&) {
        QJsonArray users;
        for (const auto& account : b.accounts.all())
            users.append(accountJson(account));
        return Reply::json(QJsonObject{{"users", users}});
    });

    // {"id"?, "name", "email"?, "avatarURL"?, "referralCode"?}; a missing referral code
    // gets a fresh one, null means none.
    router.add("POST", "/dev/users", [&b](RequestContext& ctx) {
        const auto body = parseObjectBody(ctx.body);
        Account account;
        account.id = optionalId(body, QStringLiteral("id"));
        account.name = requiredText(body, QStringLiteral("name"));
        account.email = optionalText(body, QStringLiteral("email")).value_or(QString());
        account.avatarURL = optionalText(body, QStringLiteral("avatarURL"), 2000);
        account.referralCode = optionalText(body, QStringLiteral("referralCode"), 64);
        if (!body.contains(QStringLiteral("referralCode")))
            account.referralCode = randomHex(4);
        if (account.email.isEmpty())
            account.email = (account.id.isEmpty() ? QStringLiteral("user") : account.id) +
                            QStringLiteral("@example.com");
        return Reply::json(accountJson(b.accounts.create(account)), 201);
    });

    // A bearer token without the browser round trip, for scripts and tests.
    router.add("POST", "/dev/sessions", [&b](RequestContext& ctx) {
        const auto userId = requiredText(parseObjectBody(ctx.body), QStringLiteral("userId"));
        const auto account = b.accounts.find(userId);
        if (!account)
            throw notFound(QStringLiteral("There is no user with the id \"%1\".").arg(userId));
        return Reply::json(QJsonObject{{"token", b.accounts.startSession(account->id)},
                                       {"user", account->userJson()}},
                           201);
    });

    // {"from", "to", "accepted"?: bool, "id"?}
    router.add("POST", "/dev/friends", [&b](RequestContext& ctx) {
        const auto body = parseObjectBody(ctx.body);
        const QString id =
            b.friends.create(requiredText(body, QStringLiteral("from"), 64),
                             requiredText(body, QStringLiteral("to"), 64),
                             optionalBool(body, QStringLiteral("accepted")).value_or(false),
                             optionalId(body, QStringLiteral("id")));
        return Reply::json(QJsonObject{{"id", id}}, 201);
    });

    router.add("GET", "/dev/analytics/events", [&b](RequestContext&) {
        return Reply::json(QJsonObject{{"events", b.analytics.events()}});
    });
    router.add("DELETE", "/dev/analytics/events", [&b](RequestContext&) {
        b.analytics.clear();
        return Reply::ok();
    });

    // {"advanceSeconds": n}: moves the server's clock, e.g. past a code's expiry.
    router.add("POST", "/dev/clock", [&b](RequestContext& ctx) {
        const auto body = parseObjectBody(ctx.body);
        const std::int64_t tenYears = 10LL * 366 * 24 * 3600;
        const auto seconds =
            wholeNumber(body.value(QStringLiteral("advanceSeconds")), -tenYears, tenYears);
        if (!seconds)
            throw badRequest(QStringLiteral("advanceSeconds must be a whole number of seconds."));
        b.clock.advance(*seconds);
        return Reply::json(QJsonObject{{"now", Clock::isoText(b.clock.nowUtc())}});
    });
}

void addAnalyticsRoutes(Router& router, Backend& b) {
    router.add("POST", "/batch", [&b](RequestContext& ctx) {
        b.analytics.storeBatch(ctx.body, ctx.gzipped);
        return Reply::json(QJsonObject{{"status", 1}});
    });
    router.add("GET", "/array/:token/config", [](RequestContext& ctx) {
        return Reply::json(QJsonObject{{"token", ctx.path.at(0)}, {"config", QJsonObject{}}});
    });
    router.add("POST", "/flags", [](RequestContext&) {
        return Reply::json(
            QJsonObject{{"flags", QJsonObject{}}, {"errorsWhileComputingFlags", false}});
    });
}
} // namespace

void authenticate(Backend& backend, RequestContext& ctx) {
    const QString token = ctx.bearerToken();
    const auto userId = token.isEmpty() ? std::nullopt : backend.accounts.userForToken(token);
    if (!userId)
        throw HttpError(401, QStringLiteral("Sign in to Varno again."));
    ctx.userId = *userId;
}

void addRoutes(Router& router, Backend& backend, const QString& ownOrigin) {
    addApiRoutes(router, backend, ownOrigin);
    addDevRoutes(router, backend);
    addAnalyticsRoutes(router, backend);
    router.add("GET", "/", [](RequestContext&) {
        return Reply::json(QJsonObject{{"name", "Varno development server"},
                                       {"signIn", "/dev/signin"},
                                       {"users", "/dev/users"},
                                       {"analyticsEvents", "/dev/analytics/events"}});
    });
}

} // namespace varno::devserver
