// SPDX-License-Identifier: MIT
#include "app/CommandRunner.h"

#include "app/Console.h"
#include "app/InstanceStatus.h"
#include "app/QuitSignals.h"
#include "app/SingleInstance.h"
#include "async/Job.h"
#include "model/Errors.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace varno {

std::optional<int> CommandRunner::claim(SingleInstance& instance, int argc, char** argv,
                                        const Advice& advice) {
    SingleInstance::Role role;
    try {
        role = instance.claim();
    } catch (const AppError& error) {
        printText(stderr, QStringLiteral("varno: %1\n").arg(error.message()));
        return exitStatus::failure;
    }
    if (role == SingleInstance::Role::Primary)
        return std::nullopt;
    QCoreApplication app(argc, argv);
    const std::optional<InstanceStatus> running = InstanceStatus::ask(instance);
    printText(stderr, QStringLiteral("varno: %1 %2\n")
                          .arg(InstanceStatus::alreadyRunning(running, instance), advice(running)));
    return exitStatus::failure;
}

std::optional<int> CommandRunner::listen(SingleInstance& instance) {
    quitOnTerminationSignals();
    try {
        instance.listen();
    } catch (const AppError& error) {
        printText(stderr, QStringLiteral("varno: %1\n").arg(error.message()));
        return exitStatus::failure;
    }
    return std::nullopt;
}

int CommandRunner::runToEnd(std::function<QCoro::Task<int>()> command) {
    int status = exitStatus::failure;
    auto job = Job::start(
        [&status, command](std::stop_token) -> QCoro::Task<void> { status = co_await command(); });
    if (!job->isFinished()) {
        QEventLoop loop;
        QObject::connect(job.get(), &Job::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (job->failure()) {
        printText(stderr, QStringLiteral("varno: %1\n").arg(describeError(job->failure())));
        return exitStatus::failure;
    }
    return status;
}

} // namespace varno
