// SPDX-License-Identifier: MIT
#include "app/StatusCommand.h"

#include "app/AppCore.h"
#include "app/BundleInfo.h"
#include "app/CommandRunner.h"
#include "app/Console.h"
#include "app/InstanceStatus.h"
#include "app/SingleInstance.h"
#include "auth/SessionStorage.h"
#include "model/Errors.h"
#include "model/OutsideText.h"
#include "store/AppStore.h"

#include <QCoreApplication>

namespace varno {

QStringList StatusCommand::runningLines(const std::optional<InstanceStatus>& running,
                                        std::optional<qint64> process) {
    if (!running && process)
        return {QStringLiteral("Running:     process %1, which did not answer").arg(*process)};
    if (!running)
        return {QStringLiteral("Running:     no")};
    return {
        QStringLiteral("Running:     %1").arg(running->whereRunning()),
        QStringLiteral("Last upload: %1")
            .arg(running->lastUpload ? running->lastUpload->toLocalTime().toString(
                                           QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                     : QStringLiteral("none yet")),
        QStringLiteral("Last error:  %1").arg(running->lastError.value_or(QStringLiteral("none")))};
}

QCoro::Task<int> StatusCommand::run(std::optional<InstanceStatus> running,
                                    std::optional<qint64> process, std::FILE* out) {
    const std::shared_ptr<SessionStorage> storage =
        co_await AppCore::sessionStorageForThisMachine();
    std::optional<SavedSession> session;
    std::optional<QString> problem;
    try {
        session = co_await storage->read();
    } catch (const AppError& error) {
        problem = error.message();
    }
    AppCoreOptions options;
    options.bundleInfo = BundleInfo::main();
    options.sessionStorage = storage;
    AppCore core(std::move(options));
    AppStore* store = core.store();

    QStringList lines;
    if (session) {
        lines << QStringLiteral("Signed in as %1 (%2)")
                     .arg(boundedText(session->user.name, maxNameLength),
                          boundedText(session->user.email, maxNameLength));
        store->setServerURL(session->serverURL);
    } else if (problem) {
        lines << QStringLiteral("Not signed in: %1").arg(*problem);
    } else {
        lines << QStringLiteral("Not signed in on this machine (varno --sign-in signs in).");
    }
    lines
        << QStringLiteral("Server:      %1").arg(boundedText(store->serverURL(), maxMessageLength))
        << QStringLiteral("Device:      %1").arg(store->deviceId());
    if (session)
        lines << QStringLiteral("Session:     kept in %1").arg(storage->place());
    lines << runningLines(running, process);
    printText(out, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    co_return session ? 0 : exitStatus::notSignedIn;
}

int StatusCommand::main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Varno"));
    // Asked before the event loop runs: a command in a terminal, where a short wait
    // for the running Varno's answer holds up nothing else.
    SingleInstance instance;
    const std::optional<qint64> process = instance.runningProcess();
    std::optional<InstanceStatus> running;
    if (process)
        running = InstanceStatus::ask(instance);
    return CommandRunner::runToEnd([running, process] { return run(running, process, stdout); });
}

} // namespace varno
