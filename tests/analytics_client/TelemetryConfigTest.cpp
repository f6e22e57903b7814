#include "analytics/client/TelemetryConfig.h"

#include <gtest/gtest.h>

using namespace varno;

TEST(TelemetryConfig, TrimsTokenAndHostAndFallsBackToTheDefaultHost) {
    const TelemetryConfig config(" \n token \t", "  https://ingest.example/path/ \n");
    EXPECT_EQ(config.projectToken, "token");
    EXPECT_EQ(config.host, QUrl("https://ingest.example/path/"));
    EXPECT_EQ(config.flushAt, 20);
    EXPECT_EQ(config.maxQueueSize, 1000);
    EXPECT_EQ(config.maxBatchSize, 50);
    EXPECT_EQ(config.flushIntervalSeconds, 30.0);
    EXPECT_EQ(config.dataMode, TelemetryConfig::DataMode::any);
    EXPECT_TRUE(config.errorTrackingConfig.autoCapture);
    const QUuid id = QUuid::createUuid();
    EXPECT_EQ(config.getAnonymousId(id), id);

    for (const char* bad : {"", "   ", "http://[::1", "no scheme or host", "https://"})
        EXPECT_EQ(TelemetryConfig("t", bad).host, QUrl(TelemetryConfig::defaultHost)) << bad;
}
