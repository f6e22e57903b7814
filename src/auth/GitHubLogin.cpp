// SPDX-License-Identifier: MIT
#include "auth/GitHubLogin.h"

#include "model/Errors.h"
#include "model/UrlText.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUrl>
#include <QUrlQuery>

#include <array>

namespace varno {

namespace {

const QString notVerified =
    QStringLiteral("GitHub sign-in could not be verified. Please try again.");
const QString cancelledOrExpired =
    QStringLiteral("GitHub sign-in was cancelled or expired. Please try again.");

// The values of every item with this name; an item written without "=" has a
// null value.
QList<QString> itemValues(const QList<QPair<QString, QString>>& items, const QString& name) {
    QList<QString> values;
    for (const auto& item : items)
        if (item.first == name)
            values.append(item.second);
    return values;
}

bool isLowerHex(const QString& text) {
    for (QChar c : text)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    return true;
}

} // namespace

QString GitHubLogin::randomToken() {
    std::array<quint32, 8> words;
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof(words));
    return QString::fromLatin1(bytes.toHex());
}

QString GitHubLogin::challenge(const QString& verifier) {
    return QString::fromLatin1(
        QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString GitHubLogin::code(const QString& callbackText, const QString& expectedState) {
    const QUrl callback(callbackText);
    const QList<QPair<QString, QString>> items =
        callback.isValid() && callback.hasQuery()
            ? QUrlQuery(callback).queryItems(QUrl::FullyDecoded)
            : QList<QPair<QString, QString>>{};

    if (!isCallbackLink(callbackText))
        throw AppError(notVerified);

    const QList<QString> states = itemValues(items, QStringLiteral("state"));
    if (states.size() != 1 || states.first().isNull() || states.first() != expectedState)
        throw AppError(notVerified);

    if (!itemValues(items, QStringLiteral("error")).isEmpty())
        throw AppError(cancelledOrExpired);

    const QList<QString> codes = itemValues(items, QStringLiteral("code"));
    if (codes.size() != 1 || codes.first().isNull() || codes.first().size() != 64 ||
        !isLowerHex(codes.first()))
        throw AppError(cancelledOrExpired);
    return codes.first();
}

bool GitHubLogin::isCallbackLink(const QString& text) {
    const QUrl url(text);
    // QUrl has lower-cased the scheme and host; they must be right as written.
    const UrlText written = UrlText::split(text);
    return url.isValid() && written.scheme == QLatin1String("varno") &&
           written.host == QLatin1String("auth") && url.path() == QLatin1String("/callback");
}

} // namespace varno
