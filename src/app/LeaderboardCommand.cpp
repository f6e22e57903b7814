// SPDX-License-Identifier: MIT
#include "app/LeaderboardCommand.h"

#include "app/AppCore.h"
#include "app/BundleInfo.h"
#include "app/CommandRunner.h"
#include "app/Console.h"
#include "auth/SessionStorage.h"
#include "model/Errors.h"
#include "model/Formatting.h"
#include "model/OutsideText.h"
#include "store/AppStore.h"

#include <QCoreApplication>

#include <algorithm>

namespace varno {

QStringList LeaderboardCommand::lines(const QList<LeaderboardEntry>& board) {
    if (board.isEmpty())
        return {QStringLiteral("No usage yet")};
    const QString heading = QStringLiteral("Leaderboard, last 30 days");
    const QString tokens = QStringLiteral("Tokens");
    QStringList names, totals;
    qsizetype nameWidth = heading.size(), totalWidth = tokens.size();
    for (const LeaderboardEntry& entry : board) {
        QString name = boundedText(entry.name, maxNameLength);
        if (entry.isMe)
            name += QStringLiteral(" (you)");
        names.append(name);
        totals.append(entry.syncedAt ? compactTokens(entry.total) : QStringLiteral("—"));
        nameWidth = std::max(nameWidth, name.size());
        totalWidth = std::max(totalWidth, totals.last().size());
    }
    // Places are the positions in the list as shown, not the server's.
    const qsizetype placeWidth = QString::number(board.size()).size();
    const auto row = [&](const QString& place, const QString& name, const QString& total) {
        return place.rightJustified(placeWidth) + QStringLiteral("  ") +
               name.leftJustified(nameWidth) + QStringLiteral("  ") +
               total.rightJustified(totalWidth);
    };
    QStringList result{row(QString(), heading, tokens)};
    for (qsizetype i = 0; i < board.size(); ++i)
        result.append(row(QString::number(i + 1), names.at(i), totals.at(i)));
    return result;
}

QCoro::Task<int> LeaderboardCommand::run(std::FILE* out, std::FILE* err) {
    const std::shared_ptr<SessionStorage> storage =
        co_await AppCore::sessionStorageForThisMachine();
    std::optional<SavedSession> session;
    try {
        session = co_await storage->read();
    } catch (const AppError& error) {
        printText(err, QStringLiteral("varno: %1\n").arg(error.message()));
        co_return exitStatus::notSignedIn;
    }
    if (!session) {
        printText(err, QStringLiteral("varno: this machine is not signed in to Varno. Run varno "
                                      "--sign-in first.\n"));
        co_return exitStatus::notSignedIn;
    }
    // Reading the board sends no analytics: nothing is captured.
    AppCoreOptions options;
    options.bundleInfo = BundleInfo::main();
    options.sessionStorage = storage;
    AppCore core(std::move(options));
    AppStore* store = core.store();
    store->setServerURL(session->serverURL);
    store->setSession(session);
    std::exception_ptr failure;
    try {
        co_await store->loadDashboard({});
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        printText(err, QStringLiteral("varno: %1\n")
                           .arg(boundedText(describeError(failure), maxMessageLength)));
        if (store->session())
            co_return exitStatus::failure;
        // The server rejected the session, and the store signed this machine out: the
        // session is gone before this process is.
        co_await storage->remove();
        printText(err, QStringLiteral("varno: the server signed this machine out. Run varno "
                                      "--sign-in again.\n"));
        co_return exitStatus::notSignedIn;
    }
    printText(out, lines(store->visibleLeaderboard()).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    co_return 0;
}

int LeaderboardCommand::main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Varno"));
    return CommandRunner::runToEnd([] { return run(stdout, stderr); });
}

} // namespace varno
