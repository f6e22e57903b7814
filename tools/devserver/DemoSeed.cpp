// SPDX-License-Identifier: MIT
#include "DemoSeed.h"

#include <cstdint>

namespace varno::devserver {

namespace {
struct Person {
    const char* id;
    const char* name;
    const char* referralCode;
    std::int64_t codexPerDay; // typical day; actual days vary around it
    std::int64_t claudePerDay;
    int activeEvery;      // 1: every day, n: only every n-th day
    int minutesSinceSync; // < 0: never uploaded
};

// Totals spread over several orders of magnitude so the compact numbers differ.
const Person people[] = {
    {"demo", "Ada Lovelace", "ADA-1815", 520'000, 260'000, 1, 20},
    {"grace", "Grace Hopper", "GRACE-1906", 4'100'000, 2'300'000, 1, 3},
    {"alan", "Alan Turing", "ALAN-1912", 0, 1'500'000, 1, 47},
    {"katherine", "Katherine Johnson", "KATHERINE-1918", 280'000, 0, 1, 130},
    {"margaret", "Margaret Hamilton", "MARGARET-1936", 21'000, 12'000, 1, 60 * 26},
    {"dennis", "Dennis Ritchie", "DENNIS-1941", 1'900, 2'200, 4, 60 * 24 * 6},
    {"edsger", "Edsger Dijkstra", "EDSGER-1930", 0, 0, 1, -1},
    {"barbara", "Barbara Liskov", "BARBARA-1939", 900'000, 400'000, 1, 15},
    {"ken", "Ken Thompson", "KEN-1943", 2'000'000, 0, 2, 240},
};

// A small deterministic generator, so every run shows the same circle.
std::uint32_t mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

std::int64_t dayTotal(std::int64_t typical, int personIndex, int provider, int dayIndex,
                      const QDate& day) {
    if (typical == 0)
        return 0;
    const auto noise = mix(std::uint32_t(personIndex * 7919 + provider * 104729 + dayIndex));
    double factor = 0.35 + double(noise % 1000) / 770.0; // about 0.35 .. 1.65
    if (day.dayOfWeek() >= 6)
        factor *= 0.4; // quieter weekends
    if (noise % 11 == 0)
        return 0; // the odd day off
    return std::int64_t(double(typical) * factor);
}
} // namespace

void seedDemo(Backend& b) {
    if (b.accounts.find(QString::fromLatin1(demoAccountId)))
        return;
    const QDate today = b.clock.today();
    const QDateTime now = b.clock.nowUtc();

    int index = 0;
    for (const auto& person : people) {
        const QString id = QString::fromLatin1(person.id);
        const QString name = QString::fromUtf8(person.name);
        const QString email = name.section(u' ', 0, 0).toLower() + QStringLiteral("@example.com");
        b.accounts.create(
            Account{id, name, email, std::nullopt, QString::fromLatin1(person.referralCode)});
        if (person.minutesSinceSync >= 0) {
            UsageUpload upload;
            upload.deviceId = id + QStringLiteral("-laptop");
            const QDateTime syncedAt = now.addSecs(-60LL * person.minutesSinceSync);
            upload.collectedAt = syncedAt.toString(Qt::ISODate);
            for (int provider = 0; provider < 2; ++provider) {
                for (int i = 0; i < 30; ++i) {
                    const QDate day = today.addDays(i - 29);
                    const bool active = (29 - i) % person.activeEvery == 0;
                    const auto typical = provider == 0 ? person.codexPerDay : person.claudePerDay;
                    upload.daily.push_back(
                        UsageRow{provider == 0 ? QStringLiteral("codex") : QStringLiteral("claude"),
                                 day.toString(Qt::ISODate),
                                 active ? dayTotal(typical, index, provider, i, day) : 0});
                }
            }
            b.usage.record(id, upload, syncedAt);
        }
        ++index;
    }

    const auto friends = [&](const char* from, const char* to, bool accepted) {
        b.friends.create(
            QString::fromLatin1(from), QString::fromLatin1(to), accepted,
            QStringLiteral("req-%1-%2").arg(QString::fromLatin1(from), QString::fromLatin1(to)));
    };
    for (const char* friendId : {"grace", "alan", "katherine", "margaret", "dennis", "edsger"})
        friends(friendId, demoAccountId, true);
    friends("barbara", demoAccountId, false); // incoming
    friends(demoAccountId, "ken", false);     // outgoing
    friends("grace", "alan", true);
    friends("grace", "katherine", true);
    friends("ken", "grace", true);
}

} // namespace varno::devserver
