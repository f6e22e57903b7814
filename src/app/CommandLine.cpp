// SPDX-License-Identifier: MIT
#include "app/CommandLine.h"

#include <QUrl>

namespace varno {

CommandLine CommandLine::parse(const QStringList& arguments) {
    const auto invalid = [](const QString& message) {
        CommandLine command;
        command.action = Action::Invalid;
        command.error = message;
        return command;
    };
    const auto plain = [](Action action, QString argument = {}) {
        CommandLine command;
        command.action = action;
        command.argument = std::move(argument);
        return command;
    };
    if (arguments.isEmpty())
        return plain(Action::Run);
    const QString& first = arguments.first();
    if (first == QLatin1String("--sign-in")) {
        CommandLine command = plain(Action::SignIn);
        const QStringList rest = arguments.mid(1);
        if (rest.size() == 2 && rest.first() == QLatin1String("--server"))
            command.server = rest.at(1);
        else if (rest.size() == 1 && rest.first().startsWith(QLatin1String("--server=")))
            command.server = rest.first().mid(9);
        else if (!rest.isEmpty())
            return invalid(rest.first() == QLatin1String("--server")
                               ? QStringLiteral("--server needs the server's address.")
                               : QStringLiteral("Unknown arguments: %1").arg(rest.join(u' ')));
        return command;
    }
    if (arguments.size() == 1) {
        if (first == QLatin1String("--toggle"))
            return plain(Action::Toggle);
        if (first == QLatin1String("--register-url-handler"))
            return plain(Action::RegisterURLHandler);
        if (first == QLatin1String("--headless"))
            return plain(Action::Headless);
        if (first == QLatin1String("--leaderboard"))
            return plain(Action::Leaderboard);
        if (first == QLatin1String("--status"))
            return plain(Action::Status);
        if (first == QLatin1String("--help") || first == QLatin1String("-h"))
            return plain(Action::Help);
        if (first == QLatin1String("--version"))
            return plain(Action::Version);
        // The browser (through the desktop entry's %u) passes the callback as is.
        if (first.startsWith(QLatin1String("varno:"), Qt::CaseInsensitive)) {
            if (!QUrl(first).isValid())
                return invalid(QStringLiteral("The link is not a valid varno:// address."));
            return plain(Action::OpenURL, first);
        }
    }
    if (arguments.size() == 2 && first == QLatin1String("--dev"))
        return plain(Action::Development, arguments.at(1));
    return invalid(QStringLiteral("Unknown arguments: %1").arg(arguments.join(u' ')));
}

const QList<CommandLine::Option>& CommandLine::options() {
    static const QList<Option> table{
        {QString(), QStringLiteral("start Varno in the tray, or open the running one's panel")},
        {QStringLiteral("--toggle"),
         QStringLiteral("open or close the running Varno's panel (on desktops without a "
                        "tray, bind it to a key)")},
        {QStringLiteral("--print-usage"),
         QStringLiteral("print the local token totals that Varno would upload, and exit "
                        "(needs no display)")},
        {QStringLiteral("--register-url-handler"),
         QStringLiteral("make this program the handler of varno:// links, unless another "
                        "application already is")},
        {QStringLiteral("varno://URL"),
         QStringLiteral("hand a sign-in link from the browser to the running Varno")},
        {QStringLiteral("--version"), QStringLiteral("print the version and the build number")},
        {QStringLiteral("-h, --help"), QStringLiteral("print this help")},
        {QStringLiteral("--dev COMMAND"),
         QStringLiteral("development aid: send signin, friends, usage or quit to a running "
                        "Varno started with VARNO_DEVELOPMENT=1")},
        {QStringLiteral("--sign-in [--server URL]"),
         QStringLiteral("sign in from a terminal: open the address it prints in any browser, "
                        "then paste the varno://auth/callback link here; --server names the "
                        "server (https, or http://localhost for development), remembered"),
         QStringLiteral("Without a desktop (a server reached over SSH):")},
        {QStringLiteral("--headless"),
         QStringLiteral("sync every minute without a tray or display (what the varno.service "
                        "user unit runs)")},
        {QStringLiteral("--leaderboard"),
         QStringLiteral("print the 30-day leaderboard as the panel shows it")},
        {QStringLiteral("--status"),
         QStringLiteral("print who is signed in, the server, this device's id and how the "
                        "running Varno's syncing goes")},
    };
    return table;
}

namespace {

constexpr qsizetype lineWidth = 80;

// `tokens` joined by `joiner` and wrapped to the line width: the first line goes on
// after `column` characters already written, the next ones start with `indent` spaces.
QString wrapped(const QStringList& tokens, const QString& joiner, qsizetype column,
                qsizetype indent) {
    QString out;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QString piece = tokens.at(i) + (i + 1 < tokens.size() ? joiner : QString());
        if (column > indent && column + piece.trimmed().size() > lineWidth) {
            while (out.endsWith(u' '))
                out.chop(1);
            out += u'\n' + QString(indent, u' ');
            column = indent;
        }
        out += piece;
        column += piece.size();
    }
    return out + u'\n';
}

} // namespace

QString CommandLine::usage() {
    // Options are written in two spaces and described from this column on.
    constexpr qsizetype descriptionColumn = 26;
    QStringList choices;
    for (const Option& option : options())
        if (!option.synopsis.isEmpty())
            choices << option.synopsis.section(QStringLiteral(", "), -1);
    choices.last() += u']';
    const QString head = QStringLiteral("usage: varno [");
    QString out = head + wrapped(choices, QStringLiteral(" | "), head.size(), head.size()) + u'\n';
    for (const Option& option : options()) {
        if (!option.section.isEmpty())
            out += u'\n' + option.section + u'\n';
        const QString synopsis =
            option.synopsis.isEmpty() ? QStringLiteral("(no argument)") : option.synopsis;
        out += QStringLiteral("  ") + synopsis;
        if (synopsis.size() + 2 < descriptionColumn)
            out += QString(descriptionColumn - 2 - synopsis.size(), u' ');
        else
            out += u'\n' + QString(descriptionColumn, u' ');
        out += wrapped(option.description.split(u' '), QStringLiteral(" "), descriptionColumn,
                       descriptionColumn);
    }
    out += QStringLiteral("\nThe manual page varno(1) describes the menus, settings and files.\n");
    return out;
}

} // namespace varno
