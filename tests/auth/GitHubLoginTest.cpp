// SPDX-License-Identifier: MIT
#include "auth/GitHubLogin.h"
#include "model/Errors.h"

#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

using namespace varno;

TEST(GitHubLogin, FreshTokensAndTheirChallenge) {
    const QRegularExpression shape(QStringLiteral("^[0-9a-f]{64}$"));
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString token = GitHubLogin::randomToken();
        ASSERT_TRUE(shape.match(token).hasMatch()) << token.toStdString();
        seen.insert(token);
    }
    EXPECT_EQ(seen.size(), 200);
    // Lower-case hex SHA-256 of the UTF-8 bytes: known digests of "abc" and "é".
    EXPECT_EQ(GitHubLogin::challenge("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(GitHubLogin::challenge("\xc3\xa9"),
              "4a99557e4033c3539de2eb65472017cad5f9557f7a0625a09f1c3f6e2ba69c4c");
}

TEST(GitHubLogin, CallbackChecks) {
    const QString state(64, QLatin1Char('5'));
    const QString code = QStringLiteral("0123456789abcdef").repeated(4);
    // In the cases: {s} the expected state, {o} another one, {c} a good code, {C} it
    // in upper case, {short} one character short, {bad} with a last character not hex.
    const auto fill = [&](const char* text) {
        return QString::fromUtf8(text)
            .replace("{s}", state)
            .replace("{o}", QString(64, QLatin1Char('6')))
            .replace("{c}", code)
            .replace("{C}", code.toUpper())
            .replace("{short}", code.left(63))
            .replace("{bad}", code.left(63) + 'g');
    };
    const char* notVerified = "GitHub sign-in could not be verified. Please try again.";
    const char* expired = "GitHub sign-in was cancelled or expired. Please try again.";
    const QList<std::pair<const char*, const char*>> cases = {
        // url, and the code it yields or the message it is refused with
        {"varno://auth/callback?state={s}&code={c}", "{c}"},
        {"varno://auth/callback?code={c}&state={s}&extra=1", "{c}"},
        // Where it comes from.
        {"otherapp://auth/callback?state={s}&code={c}", notVerified},
        {"varno://evil/callback?state={s}&code={c}", notVerified},
        {"varno://auth/other?state={s}&code={c}", notVerified},
        {"varno://auth/callback/?state={s}&code={c}", notVerified},
        {"varno:/callback?state={s}&code={c}", notVerified},
        // Scheme and host as written: the parser's lower-casing does not make them right.
        {"VARNO://auth/callback?state={s}&code={c}", notVerified},
        {"Varno://auth/callback?state={s}&code={c}", notVerified},
        {"varno://AUTH/callback?state={s}&code={c}", notVerified},
        {"varno://user@auth:99/callback?state={s}&code={c}", "{c}"},
        {"not a url", notVerified},
        // The state; a wrong one wins over an error item.
        {"varno://auth/callback?code={c}", notVerified},
        {"varno://auth/callback?state&code={c}", notVerified},
        {"varno://auth/callback?state=&code={c}", notVerified},
        {"varno://auth/callback?state={o}&code={c}", notVerified},
        {"varno://auth/callback?state={s}&state={s}&code={c}", notVerified},
        {"varno://auth/callback?state={o}&error=access_denied", notVerified},
        // An error item wins over a good code, with or without a value.
        {"varno://auth/callback?state={s}&code={c}&error=access_denied", expired},
        {"varno://auth/callback?state={s}&code={c}&error", expired},
        // The code.
        {"varno://auth/callback?state={s}", expired},
        {"varno://auth/callback?state={s}&code", expired},
        {"varno://auth/callback?state={s}&code={c}&code={c}", expired},
        {"varno://auth/callback?state={s}&code={C}", expired},
        {"varno://auth/callback?state={s}&code={c}a", expired},
        {"varno://auth/callback?state={s}&code={short}", expired},
        {"varno://auth/callback?state={s}&code={bad}", expired},
    };
    for (const auto& [url, expected] : cases) {
        SCOPED_TRACE(url);
        try {
            EXPECT_EQ(GitHubLogin::code(fill(url), state), fill(expected));
        } catch (const AppError& e) {
            EXPECT_EQ(e.message(), fill(expected));
        }
    }
}
