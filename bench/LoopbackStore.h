// SPDX-License-Identifier: MIT
#pragma once

#include "analytics/Analytics.h"
#include "model/Settings.h"
#include "store/AppStore.h"
#include "store/HttpTransport.h"

#include <QSettings>
#include <QTemporaryDir>

#include <memory>

namespace varno::bench {

// A signed-in store that loads from a server through the real transport, with settings
// of its own: what the answer benchmarks load through.
struct LoopbackStore {
    explicit LoopbackStore(const QString& serverURL) {
        settings.setValue(settings::serverURLKey, serverURL);
        AppStoreActions actions;
        actions.readUsage = [](std::stop_token) -> QCoro::Task<UsageSnapshot> {
            co_return UsageSnapshot{{}, QDateTime::currentDateTimeUtc()};
        };
        actions.sendRequest = networkTransport();
        store = std::make_unique<AppStore>(false, actions, &analytics, &settings, &settings,
                                           QVariantMap{});
        store->setSession(SavedSession{"token", User{"me", "Me", "me@x.io"}, store->serverURL()});
    }

    QTemporaryDir dir;
    QSettings settings{dir.filePath("settings.ini"), QSettings::IniFormat};
    Analytics analytics;
    std::unique_ptr<AppStore> store;
};

} // namespace varno::bench
