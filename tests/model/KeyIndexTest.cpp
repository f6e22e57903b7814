// SPDX-License-Identifier: MIT
#include "model/KeyIndex.h"

#include <gtest/gtest.h>

using namespace varno;

// Built whole or key by key, through many rebuilds, every key is found at its first
// place, and only there.
TEST(KeyIndex, FindsEachKeyAtItsFirstPlace) {
    QStringList keys;
    for (int i = 0; i < 5000; ++i)
        keys.append(QStringLiteral("friend-%1").arg(i));
    KeyIndex grown;
    for (const QString& key : keys)
        EXPECT_TRUE(grown.append(key));
    const KeyIndex whole(keys);
    for (const KeyIndex* index : {&std::as_const(grown), &whole}) {
        EXPECT_FALSE(index->hasRepeats());
        for (int i = 0; i < keys.size(); i += 7)
            EXPECT_EQ(index->indexOf(keys[i]), i);
        EXPECT_EQ(index->indexOf(QStringLiteral("friend-5000")), -1);
        EXPECT_EQ(index->indexOf(QStringLiteral("Friend-1")), -1);
    }
    EXPECT_EQ(grown.keys(), keys);

    EXPECT_FALSE(grown.append(QStringLiteral("friend-42")));
    EXPECT_EQ(grown.size(), 5000);
    const KeyIndex repeated({"a", "b", "a", ""});
    EXPECT_TRUE(repeated.hasRepeats());
    EXPECT_EQ(repeated.indexOf("a"), 0);
    EXPECT_EQ(repeated.indexOf(""), 3);
    EXPECT_EQ(KeyIndex().indexOf("a"), -1);
}
