// SPDX-License-Identifier: MIT
#include "DevSignInPage.h"

#include <QUrl>

namespace varno::devserver {

namespace {
QString escape(const QString& text) {
    return text.toHtmlEscaped();
}

QString initials(const QString& name) {
    QString result;
    for (const auto& part : name.split(u' ', Qt::SkipEmptyParts)) {
        result += part.front().toUpper();
        if (result.size() == 2)
            break;
    }
    return result.isEmpty() ? QStringLiteral("?") : result;
}

const char* const style = R"css(
body { font: 15px/1.4 system-ui, sans-serif; background: #f4f4f6; color: #1c1c1e; margin: 0; }
main { max-width: 420px; margin: 48px auto; background: #fff; border-radius: 16px;
       box-shadow: 0 8px 30px rgba(0,0,0,.08); padding: 28px; }
h1 { font-size: 20px; margin: 0 0 4px; }
p.note { color: #6e6e73; margin: 0 0 20px; }
form { margin: 0; }
button { width: 100%; display: flex; align-items: center; gap: 12px; padding: 10px 12px;
         margin: 6px 0; border: 1px solid #e0e0e5; border-radius: 10px; background: #fff;
         font: inherit; text-align: left; cursor: pointer; }
button:hover { background: #f0f4ff; border-color: #9db4ff; }
.avatar { width: 32px; height: 32px; border-radius: 50%; background: #5e5ce6; color: #fff;
          display: inline-flex; align-items: center; justify-content: center; font-weight: 600; }
.who small { display: block; color: #6e6e73; }
a.cancel { display: block; text-align: center; color: #c0392b; margin-top: 16px; }
)css";
} // namespace

QString callbackUrl(const QString& state, const QString& key, const QString& value) {
    return QStringLiteral("varno://auth/callback?state=%1&%2=%3")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(state)), key,
             QString::fromLatin1(QUrl::toPercentEncoding(value)));
}

std::string renderSignInPage(const std::vector<Account>& accounts, const QString& challenge,
                             const QString& state) {
    QString page = QStringLiteral("<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\">"
                                  "<meta name=\"viewport\" content=\"width=device-width\">"
                                  "<title>Sign in to Varno (development)</title><style>");
    page += QString::fromLatin1(style);
    page += QStringLiteral("</style></head><body><main><h1>Sign in to Varno</h1>"
                           "<p class=\"note\">Development server: choose an account.</p>");
    const QString hidden = QStringLiteral("<input type=\"hidden\" name=\"challenge\" value=\"%1\">"
                                          "<input type=\"hidden\" name=\"state\" value=\"%2\">")
                               .arg(escape(challenge), escape(state));
    if (accounts.empty())
        page += QStringLiteral("<p>No accounts yet. Create one with POST /dev/users.</p>");
    for (const auto& account : accounts) {
        page += QStringLiteral("<form method=\"get\" action=\"/dev/signin\">") + hidden +
                QStringLiteral("<button name=\"account\" value=\"%1\"><span class=\"avatar\">%2"
                               "</span><span class=\"who\">%3<small>%4</small></span></button>"
                               "</form>")
                    .arg(escape(account.id), escape(initials(account.name)), escape(account.name),
                         escape(account.email));
    }
    page += QStringLiteral("<a class=\"cancel\" href=\"%1\">Cancel</a></main></body></html>")
                .arg(escape(
                    callbackUrl(state, QStringLiteral("error"), QStringLiteral("access_denied"))));
    return page.toStdString();
}

} // namespace varno::devserver
