// SPDX-License-Identifier: MIT
#include "usage/CodexBarReader.h"

#include "async/Background.h"
#include "async/CancellationError.h"
#include "model/Errors.h"
#include "model/Formatting.h"
#include "model/Json.h"
#include "model/TemporaryFolder.h"
#include "usage/ChildProcess.h"
#include "usage/InstallLocations.h"
#include "usage/OutputFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QUuid>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace varno {

namespace {

const QStringList providers = {QStringLiteral("codex"), QStringLiteral("claude")};
constexpr int windowDays = 30;
constexpr qint64 highestDailyTotal = 1'000'000'000'000;
// Real output is a few kilobytes; this only keeps a runaway tool from exhausting memory.
constexpr qint64 largestOutput = qint64(256) * 1024 * 1024;

AppError incompleteHistory(const QString& provider) {
    return AppError(QStringLiteral("CodexBar could not finish reading ") + provider +
                    QStringLiteral(" history. Open CodexBar and try again."));
}

AppError invalidTotals() {
    return AppError(
        QStringLiteral("CodexBar returned invalid daily totals. Please update CodexBar."));
}

void throwIfCancelled(const std::stop_token& token) {
    if (token.stop_requested())
        throw CancellationError();
}

bool isExecutableFile(const QString& path) {
    if (path.isEmpty())
        return false;
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    return ::stat(name.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(name.constData(), X_OK) == 0;
}

// Sleeps for the interval, or less when the token is stopped meanwhile.
void pause(const std::stop_token& token, std::chrono::milliseconds interval) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, token, interval, [] { return false; });
}

} // namespace

std::optional<QString> ReaderOptions::systemEnvironment(const QString& name) {
    const QByteArray key = name.toLocal8Bit();
    if (!qEnvironmentVariableIsSet(key.constData()))
        return std::nullopt;
    return qEnvironmentVariable(key.constData());
}

QString ReaderOptions::defaultHomeDirectory() {
    return QDir::homePath();
}

QString ReaderOptions::defaultTemporaryDirectory() {
    return temporaryFolder();
}

QStringList ReaderOptions::defaultInstallLocations() {
    QStringList locations = {
        QStringLiteral("/Applications/CodexBar.app/Contents/Helpers/CodexBarCLI"),
        QStringLiteral("Applications/CodexBar.app/Contents/Helpers/CodexBarCLI"),
        QStringLiteral("/opt/homebrew/bin/codexbar"),
        QStringLiteral("/usr/local/bin/codexbar"),
    };
    locations += detail::platformInstallLocations();
    return locations;
}

const QStringList& CodexBarReader::arguments() {
    static const QStringList list = {
        QStringLiteral("cost"),      QStringLiteral("--provider"),
        QStringLiteral("both"),      QStringLiteral("--format"),
        QStringLiteral("json"),      QStringLiteral("--days"),
        QStringLiteral("30"),        QStringLiteral("--provider-native-only"),
        QStringLiteral("--refresh"),
    };
    return list;
}

QStringList CodexBarReader::candidates(const ReaderOptions& options) {
    QStringList paths;
    if (options.environment) {
        if (std::optional<QString> value = options.environment(QStringLiteral("CODEXBAR_CLI")))
            paths.append(*value);
    }
    const QDir home(options.homeDirectory);
    for (const QString& location : options.installLocations)
        paths.append(QDir::isAbsolutePath(location) ? location : home.filePath(location));
    return paths;
}

std::optional<QString> CodexBarReader::findTool(const ReaderOptions& options) {
    for (const QString& path : candidates(options)) {
        if (isExecutableFile(path))
            return path;
    }
    return std::nullopt;
}

QCoro::Task<UsageSnapshot> CodexBarReader::read(std::stop_token token, ReaderOptions options) {
    throwIfCancelled(token);
    // Named rather than written inside the co_await: GCC 12 destroys a closure
    // temporary of an awaited expression twice.
    auto work = [options = std::move(options)](std::stop_token inner) {
        return collect(inner, options);
    };
    UsageSnapshot snapshot = co_await runInBackground(std::move(work), token);
    // A reading that finished after its caller gave up is not handed out.
    throwIfCancelled(token);
    co_return snapshot;
}

UsageSnapshot CodexBarReader::collect(std::stop_token token, const ReaderOptions& options) {
    throwIfCancelled(token);
    const std::optional<QString> tool = findTool(options);
    if (!tool)
        throw AppError(
            QStringLiteral("Install CodexBar to read your Codex and Claude Code token usage."));

    // A relative folder would put the file wherever the app happens to be started.
    if (!QDir::isAbsolutePath(options.temporaryDirectory))
        throw FileError(QStringLiteral("Could not create a temporary file: the temporary folder "
                                       "\"%1\" is not an absolute path.")
                            .arg(options.temporaryDirectory));
    const QString name = QStringLiteral("varno-") +
                         QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                         QStringLiteral(".json");
    // Declared before the process so that the tool is stopped before its output
    // handle is closed and the file deleted.
    OutputFile output(QDir(options.temporaryDirectory).filePath(name));

    throwIfCancelled(token);
    ChildProcess process(*tool, arguments(), output.descriptor(), options.gracePeriod);

    const auto deadline = std::chrono::steady_clock::now() + options.timeLimit;
    while (!process.hasExited() && std::chrono::steady_clock::now() < deadline) {
        throwIfCancelled(token);
        pause(token, options.pollInterval);
    }
    throwIfCancelled(token);
    if (!process.hasExited())
        throw AppError(QStringLiteral("Reading usage timed out. Open CodexBar and try again."));
    if (!process.succeeded())
        throw AppError(QStringLiteral(
            "Could not read local usage. Open CodexBar, check both providers, and try again."));

    const QByteArray data = output.readAll(largestOutput);
    const QDateTime now = options.clock ? options.clock() : QDateTime::currentDateTimeUtc();
    const QTimeZone zone = options.timeZone ? options.timeZone() : QTimeZone::systemTimeZone();
    return decode(data, now, zone);
}

UsageSnapshot CodexBarReader::decode(const QByteArray& data, const QDateTime& now,
                                     const QTimeZone& timeZone) {
    const QList<ProviderUsage> elements = decodeJsonList<ProviderUsage>(data);
    // Today's date, taken once: stepping a local time back a day at a time would land
    // in a gap where clocks skip midnight, and the gap moves it into the day before.
    const QDate today = now.toTimeZone(timeZone).date();

    UsageSnapshot snapshot;
    snapshot.collectedAt = now;
    snapshot.daily.reserve(providers.size() * windowDays);
    for (const QString& provider : providers) {
        // Only the first element for a provider counts.
        const auto element =
            std::find_if(elements.begin(), elements.end(),
                         [&](const ProviderUsage& p) { return p.provider == provider; });
        if (element == elements.end() || !element->daily ||
            element->historyCoverageIsEstablished == false)
            throw incompleteHistory(provider);

        QHash<QString, qint64> totals;
        totals.reserve(element->daily->size());
        for (const ProviderUsage::Day& day : *element->daily) {
            if (day.totalTokens < 0 || day.totalTokens > highestDailyTotal)
                throw invalidTotals();
            if (totals.contains(day.date))
                throw invalidTotals();
            totals.insert(day.date, day.totalTokens);
        }

        for (int offset = -(windowDays - 1); offset <= 0; ++offset) {
            const QString date = dayText(today.addDays(offset));
            snapshot.daily.append(DailyUsage{provider, date, totals.value(date, 0)});
        }
    }
    return snapshot;
}

} // namespace varno
