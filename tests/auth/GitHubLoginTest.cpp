#include "auth/GitHubLogin.h"
#include "model/Errors.h"

#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

using varno::AppError;
using varno::GitHubLogin;

TEST(GitHubLogin, RandomTokensAreFreshLowerCaseHex) {
    const QRegularExpression shape(QStringLiteral("^[0-9a-f]{64}$"));
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString token = GitHubLogin::randomToken();
        ASSERT_TRUE(shape.match(token).hasMatch()) << token.toStdString();
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 200);
}

TEST(GitHubLogin, ChallengeIsHexSha256OfTheUtf8Verifier) {
    // Known digests: SHA-256("abc") and SHA-256 of the UTF-8 bytes of "é".
    EXPECT_EQ(GitHubLogin::challenge(QStringLiteral("abc")),
              QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(GitHubLogin::challenge(QString::fromUtf8("\xc3\xa9")),
              QStringLiteral("4a99557e4033c3539de2eb65472017cad5f9557f7a0625a09f1c3f6e2ba69c4c"));
}

TEST(GitHubLogin, CallbackChecks) {
    const QString state(64, QLatin1Char('5'));
    const QString code = QStringLiteral("0123456789abcdef").repeated(4);
    const QString other(64, QLatin1Char('6'));
    const QString notVerified =
        QStringLiteral("GitHub sign-in could not be verified. Please try again.");
    const QString expired =
        QStringLiteral("GitHub sign-in was cancelled or expired. Please try again.");
    const QString good = QStringLiteral("varno://auth/callback?state=%1&code=%2").arg(state, code);

    struct Case {
        QString url;
        QString expected; // the code, or the error message
    };
    const QList<Case> cases = {
        {good, code},
        {QStringLiteral("varno://auth/callback?code=%2&state=%1&extra=1").arg(state, code), code},
        // Where it comes from.
        {QStringLiteral("otherapp://auth/callback?state=%1&code=%2").arg(state, code), notVerified},
        {QStringLiteral("varno://evil/callback?state=%1&code=%2").arg(state, code), notVerified},
        {QStringLiteral("varno://auth/other?state=%1&code=%2").arg(state, code), notVerified},
        {QStringLiteral("varno://auth/callback/?state=%1&code=%2").arg(state, code), notVerified},
        {QStringLiteral("varno:/callback?state=%1&code=%2").arg(state, code), notVerified},
        {QStringLiteral("not a url"), notVerified},
        // The state.
        {QStringLiteral("varno://auth/callback?code=%1").arg(code), notVerified},
        {QStringLiteral("varno://auth/callback?state&code=%1").arg(code), notVerified},
        {QStringLiteral("varno://auth/callback?state=&code=%1").arg(code), notVerified},
        {QStringLiteral("varno://auth/callback?state=%1&code=%2").arg(other, code), notVerified},
        {QStringLiteral("varno://auth/callback?state=%1&state=%1&code=%2").arg(state, code),
         notVerified},
        {QStringLiteral("varno://auth/callback?state=%1&error=access_denied").arg(other),
         notVerified},
        // An error item wins over a good code, with or without a value.
        {good + QStringLiteral("&error=access_denied"), expired},
        {good + QStringLiteral("&error"), expired},
        // The code.
        {QStringLiteral("varno://auth/callback?state=%1").arg(state), expired},
        {QStringLiteral("varno://auth/callback?state=%1&code").arg(state), expired},
        {QStringLiteral("varno://auth/callback?state=%1&code=%2&code=%2").arg(state, code),
         expired},
        {QStringLiteral("varno://auth/callback?state=%1&code=%2").arg(state, code.toUpper()),
         expired},
        {QStringLiteral("varno://auth/callback?state=%1&code=%2").arg(state, code.left(63)),
         expired},
        {QStringLiteral("varno://auth/callback?state=%1&code=%2").arg(state, code + 'a'), expired},
        {QStringLiteral("varno://auth/callback?state=%1&code=%2").arg(state, code.left(63) + 'g'),
         expired},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        try {
            EXPECT_EQ(GitHubLogin::code(QUrl(c.url), state), c.expected);
        } catch (const AppError& e) {
            EXPECT_EQ(e.message(), c.expected);
        }
    }
}
