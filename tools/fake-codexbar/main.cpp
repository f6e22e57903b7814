// SPDX-License-Identifier: MIT
// fake-codexbar: a stand-in for CodexBar's command-line tool, for demos and tests.
//
// It accepts only the command line Varno runs:
//   fake-codexbar cost --provider both --format json --days 30 --provider-native-only --refresh
// (anything else: a usage line on standard error, exit status 2) and prints, in CodexBar's
// JSON shape, 30 days ending today (local time) of daily token totals for "codex" and
// "claude". The numbers are plausible and deterministic: the same seed gives the same total
// for the same provider and day, so a day keeps its value from one run to the next.
//
// Environment:
//   FAKE_CODEXBAR_SEED=<integer>     varies the numbers (default 1)
//   FAKE_CODEXBAR_DELAY_MS=<ms>      waits this long before printing (a slow reading)
//   FAKE_CODEXBAR_MODE=              (unset or "ok") the normal output, exit 0
//     fail                           prints the normal output, then exits with status 1
//     hang                           prints nothing and sleeps until it is killed
//     ignore-sigterm                 like hang, but ignores SIGTERM (only SIGKILL ends it)
//     empty                          prints nothing, exits 0
//     negative                       today's codex total is -1
//     duplicate                      codex lists today twice
//     incomplete=<provider>          marks that provider's history as not established
//     huge                           adds megabytes of valid JSON (a long-lived extra provider
//                                    and bulky members) around the same 60 totals
// Unknown modes are refused like a wrong command line.

#include <QByteArray>
#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace {

const QStringList expectedArguments = {
    QStringLiteral("cost"),      QStringLiteral("--provider"),
    QStringLiteral("both"),      QStringLiteral("--format"),
    QStringLiteral("json"),      QStringLiteral("--days"),
    QStringLiteral("30"),        QStringLiteral("--provider-native-only"),
    QStringLiteral("--refresh"),
};

int refuse(const char* why) {
    std::fprintf(stderr,
                 "fake-codexbar: %s\nusage: fake-codexbar cost --provider both --format json "
                 "--days 30 --provider-native-only --refresh\n",
                 why);
    return 2;
}

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// A stable pseudo-random number for (seed, provider, day).
std::uint64_t draw(std::uint64_t seed, const QString& provider, const QDate& day, int salt) {
    std::uint64_t h = seed * 1000003ULL + std::uint64_t(salt);
    for (QChar c : provider)
        h = mix(h ^ c.unicode());
    return mix(h ^ std::uint64_t(day.toJulianDay()));
}

qint64 dailyTotal(std::uint64_t seed, const QString& provider, const QDate& day) {
    const std::uint64_t r = draw(seed, provider, day, 0);
    if (r % 100 < 12) // a day off
        return 0;
    const bool weekend = day.dayOfWeek() >= 6;
    const qint64 typical = provider == QLatin1String("codex") ? 6'000'000 : 3'500'000;
    const qint64 base = weekend ? typical / 4 : typical;
    // Between a fifth of and twice the typical amount.
    return base / 5 + qint64((r >> 8) % std::uint64_t(base * 9 / 5));
}

QJsonObject dayObject(std::uint64_t seed, const QString& provider, const QDate& day, qint64 total,
                      bool bulky) {
    const qint64 output = total / 20;
    const qint64 cacheRead = total * 6 / 10;
    const qint64 input = total - output - cacheRead;
    const double rate = provider == QLatin1String("codex") ? 1.6 : 3.2; // USD per million
    QJsonObject object{
        {QStringLiteral("date"), day.toString(QStringLiteral("yyyy-MM-dd"))},
        {QStringLiteral("totalTokens"), total},
        {QStringLiteral("inputTokens"), input},
        {QStringLiteral("outputTokens"), output},
        {QStringLiteral("cacheReadTokens"), cacheRead},
        {QStringLiteral("costUSD"), qRound(double(total) * rate / 10'000.0) / 100.0},
        {QStringLiteral("modelsUsed"),
         provider == QLatin1String("codex")
             ? QJsonArray{QStringLiteral("gpt-5-codex"), QStringLiteral("gpt-5")}
             : QJsonArray{QStringLiteral("claude-sonnet-4-5"), QStringLiteral("claude-opus-4-1")}},
    };
    if (bulky) {
        QJsonArray sessions;
        for (int i = 0; i < 400; ++i)
            sessions.append(QJsonObject{
                {QStringLiteral("id"),
                 QString::fromLatin1(QCryptographicHash::hash(QByteArray::number(qulonglong(
                                                                  draw(seed, provider, day, i))),
                                                              QCryptographicHash::Sha256)
                                         .toHex())},
                {QStringLiteral("tokens"), qint64(draw(seed, provider, day, i) % 100000)},
            });
        object.insert(QStringLiteral("sessions"), sessions);
    }
    return object;
}

QJsonObject providerObject(std::uint64_t seed, const QString& provider, const QDate& today,
                           const QString& mode) {
    const bool bulky = mode == QLatin1String("huge");
    QJsonArray daily;
    qint64 sum = 0;
    for (int offset = -29; offset <= 0; ++offset) {
        const QDate day = today.addDays(offset);
        qint64 total = dailyTotal(seed, provider, day);
        const bool isCodexToday = provider == QLatin1String("codex") && offset == 0;
        if (isCodexToday && mode == QLatin1String("negative"))
            total = -1;
        sum += total;
        daily.append(dayObject(seed, provider, day, total, bulky));
        if (isCodexToday && mode == QLatin1String("duplicate"))
            daily.append(dayObject(seed, provider, day, total, bulky));
    }
    const bool incomplete = mode == QStringLiteral("incomplete=") + provider;
    return QJsonObject{
        {QStringLiteral("provider"), provider},
        {QStringLiteral("source"), QStringLiteral("local")},
        {QStringLiteral("historyCoverageIsEstablished"), !incomplete},
        {QStringLiteral("daily"), daily},
        {QStringLiteral("totals"), QJsonObject{{QStringLiteral("totalTokens"), sum}}},
        {QStringLiteral("updatedAt"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
    };
}

// Another provider that readers do not know, with years of history: megabytes of JSON.
QJsonObject bulkyOtherProvider(std::uint64_t seed, const QDate& today) {
    QJsonArray daily;
    for (int offset = -3000; offset <= 0; ++offset) {
        const QDate day = today.addDays(offset);
        daily.append(dayObject(seed, QStringLiteral("cursor"), day,
                               dailyTotal(seed, QStringLiteral("cursor"), day), offset > -40));
    }
    return QJsonObject{{QStringLiteral("provider"), QStringLiteral("cursor")},
                       {QStringLiteral("daily"), daily}};
}

bool writeAll(const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(STDOUT_FILENO, bytes.constData() + written, size_t(bytes.size() - written));
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

[[noreturn]] void sleepForever() {
    for (;;)
        ::pause();
}

} // namespace

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (arguments != expectedArguments)
        return refuse("unexpected command line");

    const QString mode = qEnvironmentVariable("FAKE_CODEXBAR_MODE");
    static const QStringList modes = {
        QString(),
        QStringLiteral("ok"),
        QStringLiteral("fail"),
        QStringLiteral("hang"),
        QStringLiteral("ignore-sigterm"),
        QStringLiteral("empty"),
        QStringLiteral("negative"),
        QStringLiteral("duplicate"),
        QStringLiteral("incomplete=codex"),
        QStringLiteral("incomplete=claude"),
        QStringLiteral("huge"),
    };
    if (!modes.contains(mode))
        return refuse("unknown FAKE_CODEXBAR_MODE");

    bool seedOk = true;
    const QString seedText = qEnvironmentVariable("FAKE_CODEXBAR_SEED");
    const std::uint64_t seed = seedText.isEmpty() ? 1 : seedText.toULongLong(&seedOk);
    if (!seedOk)
        return refuse("FAKE_CODEXBAR_SEED must be a non-negative integer");
    const int delayMs = qEnvironmentVariableIntValue("FAKE_CODEXBAR_DELAY_MS");
    if (delayMs > 0)
        ::usleep(useconds_t(delayMs) * 1000);

    if (mode == QLatin1String("ignore-sigterm")) {
        std::signal(SIGTERM, SIG_IGN);
        sleepForever();
    }
    if (mode == QLatin1String("hang"))
        sleepForever();
    if (mode == QLatin1String("empty"))
        return 0;

    const QDate today = QDate::currentDate();
    QJsonArray document;
    if (mode == QLatin1String("huge"))
        document.append(bulkyOtherProvider(seed, today));
    document.append(providerObject(seed, QStringLiteral("codex"), today, mode));
    document.append(providerObject(seed, QStringLiteral("claude"), today, mode));
    if (!writeAll(QJsonDocument(document).toJson(QJsonDocument::Indented)))
        return 1;
    return mode == QLatin1String("fail") ? 1 : 0;
}
