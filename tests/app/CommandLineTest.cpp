// SPDX-License-Identifier: MIT
#include "app/CommandLine.h"

#include <gtest/gtest.h>

using namespace varno;

// Every spelling that the help shows is one the parser takes, and the help fits a
// terminal of 80 columns.
TEST(CommandLine, TheHelpShowsOnlyWhatTheParserTakes) {
    for (const CommandLine::Option& option : CommandLine::options()) {
        QString synopsis = option.synopsis;
        synopsis.replace(QStringLiteral("varno://URL"), QStringLiteral("varno://auth/callback"));
        synopsis.remove(u'[').remove(u']');
        for (const QString& spelling : synopsis.split(QStringLiteral(", "))) {
            if (spelling == QLatin1String("--print-usage"))
                continue; // main() runs it before anything else is parsed
            QStringList arguments;
            for (const QString& word : spelling.split(u' ', Qt::SkipEmptyParts))
                arguments << (word == word.toUpper() && !word.startsWith(u'-')
                                  ? QStringLiteral("https://varno.example")
                                  : word);
            SCOPED_TRACE(arguments.join(u' ').toStdString());
            EXPECT_NE(CommandLine::parse(arguments).action, CommandLine::Action::Invalid)
                << CommandLine::parse(arguments).error.toStdString();
        }
    }
    const QString help = CommandLine::usage();
    EXPECT_TRUE(help.startsWith(QStringLiteral("usage: varno [--toggle | ")));
    for (const QString& line : help.split(u'\n'))
        EXPECT_LE(line.size(), 80) << line.toStdString();
    EXPECT_EQ(CommandLine::parse({QStringLiteral("--helpme")}).action,
              CommandLine::Action::Invalid);
}
