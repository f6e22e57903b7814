// SPDX-License-Identifier: MIT
#include "model/OutsideText.h"

#include <gtest/gtest.h>

using namespace varno;

TEST(OutsideText, NamesFromTheServerFitOneLine) {
    const std::pair<QString, QString> cases[] = {
        {"Ann Lee", "Ann Lee"},
        {"  Ann\n\tLee\r\n", "Ann Lee"},
        {QString::fromUtf8("\u202Eeve\u2066 \u0007x"), "eve x"},
        {"<b>Bob</b> & co", "<b>Bob</b> & co"}, // escaping is the notifier's business
        {"\n\u200F", ""},
        {QString(100, 'a'), QString(63, 'a') + QChar(0x2026)},
        // A cut never splits a character outside the basic plane.
        {QString(62, 'a') + QString::fromUtf8("\U0001F600\U0001F600"),
         QString(62, 'a') + QChar(0x2026)},
        // Half of a pair alone is no character: it would not survive UTF-8.
        {QStringView(u"a\xD800x\xDC00\xD83D").toString(),
         QStringView(u"a\xFFFDx\xFFFD\xFFFD").toString()},
    };
    for (const auto& [name, shown] : cases)
        EXPECT_EQ(boundedText(name, maxNameLength), shown) << name.toStdString();
}

TEST(OutsideText, AHugeTextIsCutWithoutReadingItAll) {
    // Fifteen megabytes of one word: the result is the bound, not the input.
    const QString huge(15 * 1024 * 1024, QLatin1Char('7'));
    const QString shown = boundedText(huge, maxMessageLength);
    EXPECT_EQ(shown.size(), maxMessageLength);
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
}

TEST(OutsideText, NamesAreIsolatedSoTheyCannotReorderTheirSurroundings) {
    EXPECT_EQ(isolatedName(QString::fromUtf8("\u202Elive")), QString::fromUtf8("\u2068live\u2069"));
    EXPECT_EQ(isolatedName(" \n"), QString());
}
