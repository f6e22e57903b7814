// SPDX-License-Identifier: MIT
#include "DevServerProcess.h"

#include <QDeadlineTimer>
#include <QUrl>

#include <stdexcept>

namespace varno::test {

QString DevServerProcess::program() {
#ifdef VARNO_TOOL_VARNO_DEVSERVER
    return QStringLiteral(VARNO_TOOL_VARNO_DEVSERVER);
#else
    throw std::runtime_error("varno-devserver is not part of this build");
#endif
}

DevServerProcess::DevServerProcess(Seed seed, QStringList extraArguments) {
    process_.setProgram(program());
    process_.setArguments(QStringList{"--host", "127.0.0.1", "--port", "0", "--db",
                                      ":memory:", "--seed", seed == Seed::demo ? "demo" : "none"} +
                          extraArguments);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start();
    if (!process_.waitForStarted(10000))
        throw std::runtime_error("varno-devserver did not start: " +
                                 process_.errorString().toStdString());

    QDeadlineTimer deadline(std::chrono::seconds(10));
    while (!process_.canReadLine() && !deadline.hasExpired() &&
           process_.state() == QProcess::Running)
        process_.waitForReadyRead(int(deadline.remainingTime()));
    const QString line = QString::fromUtf8(process_.readLine()).trimmed();
    const QUrl url(line);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.port() <= 0) {
        stop();
        throw std::runtime_error("varno-devserver did not print its address (got \"" +
                                 line.toStdString() + "\")");
    }
    baseUrl_ = line;
    host_ = url.host();
    port_ = url.port();
}

DevServerProcess::~DevServerProcess() {
    stop();
}

int DevServerProcess::stop(std::chrono::milliseconds timeout) {
    if (stopped_)
        return exitCode_;
    stopped_ = true;
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(int(timeout.count()))) {
            process_.kill();
            process_.waitForFinished(3000);
            return exitCode_ = -1;
        }
    }
    exitCode_ = process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    return exitCode_;
}

} // namespace varno::test
