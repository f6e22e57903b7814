#include "app/CommandLine.h"

#include <QUrl>

namespace varno {

CommandLine CommandLine::parse(const QStringList& arguments) {
    const auto invalid = [](const QString& message) {
        return CommandLine{Action::Invalid, QString(), message};
    };
    if (arguments.isEmpty())
        return {Action::Run, {}, {}};
    const QString& first = arguments.first();
    if (arguments.size() == 1) {
        if (first == QLatin1String("--toggle"))
            return {Action::Toggle, {}, {}};
        if (first == QLatin1String("--register-url-handler"))
            return {Action::RegisterURLHandler, {}, {}};
        if (first == QLatin1String("--help") || first == QLatin1String("-h"))
            return {Action::Help, {}, {}};
        if (first == QLatin1String("--version"))
            return {Action::Version, {}, {}};
        // The browser (through the desktop entry's %u) passes the callback as is.
        if (first.startsWith(QLatin1String("varno:"), Qt::CaseInsensitive)) {
            if (!QUrl(first).isValid())
                return invalid(QStringLiteral("The link is not a valid varno:// address."));
            return {Action::OpenURL, first, {}};
        }
    }
    if (arguments.size() == 2 && first == QLatin1String("--dev"))
        return {Action::Development, arguments.at(1), {}};
    return invalid(QStringLiteral("Unknown arguments: %1").arg(arguments.join(u' ')));
}

QString CommandLine::usage() {
    return QStringLiteral(
        "usage: varno [--toggle | --print-usage | --register-url-handler | --version | "
        "varno://URL]\n"
        "\n"
        "  (no argument)           start Varno in the tray, or open the running one's panel\n"
        "  --toggle                open or close the running Varno's panel (for desktops\n"
        "                          without a tray: bind it to a key)\n"
        "  --print-usage           print the local token totals that Varno would upload\n"
        "  --register-url-handler  make this program the handler of varno:// links, unless\n"
        "                          another application already is\n"
        "  varno://URL             hand a sign-in link from the browser to the running Varno\n"
        "  --version               print the version and build number\n"
        "  --help\n");
}

} // namespace varno
