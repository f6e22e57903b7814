// SPDX-License-Identifier: MIT
#include "app/PrintUsageCommand.h"

#include "async/Job.h"
#include "model/Errors.h"
#include "model/Formatting.h"
#include "model/Records.h"
#include "model/Settings.h"

#include <QEventLoop>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace varno {

namespace {

int signalPipe[2] = {-1, -1};

void forwardSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

bool openSignalPipe() {
    if (::pipe(signalPipe) != 0)
        return false;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    return true;
}

// Turns SIGINT and SIGTERM into a call of onSignal on the event loop while it lives.
class SignalWatch {
public:
    template <typename F> explicit SignalWatch(F onSignal) {
        if (signalPipe[0] < 0 && !openSignalPipe())
            return;
        notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [onSignal] {
            char buffer[16];
            while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
            }
            onSignal();
        });
        struct sigaction action {};
        action.sa_handler = forwardSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &previousInt_);
        ::sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~SignalWatch() {
        if (!notifier_)
            return;
        ::sigaction(SIGINT, &previousInt_, nullptr);
        ::sigaction(SIGTERM, &previousTerm_, nullptr);
    }

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

QCoro::Task<void> printBody(QSettings* settings, ReaderOptions options, std::FILE* out,
                            std::stop_token token) {
    QByteArray body = co_await PrintUsageCommand::uploadBody(*settings, token, std::move(options));
    body.append('\n');
    std::fwrite(body.constData(), 1, size_t(body.size()), out);
    if (std::fflush(out) != 0)
        throw FileError(QStringLiteral("Could not write the usage to standard output."));
}

} // namespace

QCoro::Task<QByteArray> PrintUsageCommand::uploadBody(QSettings& settings, std::stop_token token,
                                                      ReaderOptions options) {
    const QString deviceId = settings::loadOrCreateDeviceId(settings);
    const UsageSnapshot snapshot = co_await CodexBarReader::read(token, std::move(options));
    co_return UsageUpload{deviceId, utcTimestamp(snapshot.collectedAt), snapshot.daily}.toJson();
}

int PrintUsageCommand::run(QSettings& settings, ReaderOptions options, std::FILE* out,
                           std::FILE* err) {
    auto job =
        Job::start([settings = &settings, options = std::move(options), out](
                       std::stop_token token) { return printBody(settings, options, out, token); });
    SignalWatch watch([job] { job->cancel(); });
    if (!job->isFinished()) {
        QEventLoop loop;
        QObject::connect(job.get(), &Job::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (std::exception_ptr failure = job->failure()) {
        const QByteArray message = describeError(failure).toUtf8() + '\n';
        std::fwrite(message.constData(), 1, size_t(message.size()), err);
        std::fflush(err);
        return 1;
    }
    return 0;
}

} // namespace varno
