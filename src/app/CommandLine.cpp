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

QString CommandLine::usage() {
    return QStringLiteral(
        "usage: varno [--toggle | --print-usage | --register-url-handler | --version | "
        "varno://URL]\n"
        "       varno --sign-in [--server URL] | --headless | --leaderboard | --status\n"
        "\n"
        "  (no argument)           start Varno in the tray, or open the running one's panel\n"
        "  --toggle                open or close the running Varno's panel (for desktops\n"
        "                          without a tray: bind it to a key)\n"
        "  --print-usage           print the local token totals that Varno would upload\n"
        "  --register-url-handler  make this program the handler of varno:// links, unless\n"
        "                          another application already is\n"
        "  varno://URL             hand a sign-in link from the browser to the running Varno\n"
        "\n"
        "Without a desktop (a server reached over SSH):\n"
        "  --sign-in               sign in from a terminal: open the address it prints in any\n"
        "                          browser, then paste the varno://auth/callback link here\n"
        "  --server URL            with --sign-in: the server to sign in to (https, or\n"
        "                          http://localhost for development); remembered\n"
        "  --headless              sync every minute without a tray or display (what the\n"
        "                          varno.service user unit runs)\n"
        "  --leaderboard           print the 30-day leaderboard as the panel shows it\n"
        "  --status                print who is signed in, the server, this device's id and\n"
        "                          how the running Varno's syncing goes\n"
        "\n"
        "  --version               print the version and build number\n"
        "  --help\n");
}

} // namespace varno
