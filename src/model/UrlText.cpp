// SPDX-License-Identifier: MIT
#include "model/UrlText.h"

namespace varno {

namespace {

bool isSchemeCharacter(QChar c, bool first) {
    const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
    if (first)
        return letter;
    return letter || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
           c == QLatin1Char('-') || c == QLatin1Char('.');
}

} // namespace

UrlText UrlText::split(const QString& url) {
    UrlText parts;
    qsizetype rest = 0;
    const qsizetype colon = url.indexOf(QLatin1Char(':'));
    if (colon > 0) {
        bool valid = true;
        for (qsizetype i = 0; i < colon && valid; ++i)
            valid = isSchemeCharacter(url.at(i), i == 0);
        if (valid) {
            parts.scheme = url.left(colon);
            rest = colon + 1;
        }
    }
    if (url.mid(rest, 2) != QLatin1String("//"))
        return parts;
    const qsizetype start = rest + 2;
    qsizetype end = start;
    while (end < url.size() && url.at(end) != QLatin1Char('/') && url.at(end) != QLatin1Char('?') &&
           url.at(end) != QLatin1Char('#'))
        ++end;
    QString host = url.mid(start, end - start);
    host = host.mid(host.lastIndexOf(QLatin1Char('@')) + 1); // without user information
    if (host.startsWith(QLatin1Char('['))) {
        const qsizetype close = host.indexOf(QLatin1Char(']'));
        host = close < 0 ? host : host.left(close + 1);
    } else {
        const qsizetype port = host.indexOf(QLatin1Char(':'));
        if (port >= 0)
            host = host.left(port);
    }
    parts.host = host;
    return parts;
}

QString trimmedServerAddress(const QString& address) {
    const QString text = address.trimmed();
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text.at(start) == QLatin1Char('/'))
        ++start;
    while (end > start && text.at(end - 1) == QLatin1Char('/'))
        --end;
    return text.mid(start, end - start);
}

} // namespace varno
