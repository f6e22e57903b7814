// SPDX-License-Identifier: MIT
#include "model/UrlText.h"

#include <gtest/gtest.h>

using namespace varno;

TEST(UrlText, SplitsSchemeAndHostAsWritten) {
    const struct {
        const char* url;
        const char* scheme;
        std::optional<const char*> host;
    } cases[] = {
        {"HTTPS://Ingest.Example.COM/path", "HTTPS", "Ingest.Example.COM"},
        {"http://localhost:3000", "http", "localhost"},
        {"http://me:p@ss@LOCALHOST:3000/x?y=z", "http", "LOCALHOST"},
        {"http://[::1]:3000/dev", "http", "[::1]"},
        {"varno://auth?x=//y", "varno", "auth"},
        {"varno://auth#frag", "varno", "auth"},
        {"varno:///callback", "varno", ""},
        {"varno:/callback?a=//b", "varno", std::nullopt},
        {"https:ingest", "https", std::nullopt},
        {"//auth/callback", "", "auth"},
        {"1http://host", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const UrlText parts = UrlText::split(QString::fromUtf8(c.url));
        EXPECT_EQ(parts.scheme.toStdString(), c.scheme);
        EXPECT_EQ(parts.host.has_value(), c.host.has_value());
        if (parts.host && c.host)
            EXPECT_EQ(parts.host->toStdString(), *c.host);
    }
}
