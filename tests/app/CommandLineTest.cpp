#include "app/CommandLine.h"

#include "Printers.h"

#include <gtest/gtest.h>

namespace varno {
namespace {

TEST(CommandLine, ReadsEveryFormAndRefusesTheRest) {
    using Action = CommandLine::Action;
    const QString callback = QStringLiteral("varno://auth/callback?state=s&code=c");
    struct Case {
        QStringList arguments;
        Action action;
        QString argument;
    } cases[] = {
        {{}, Action::Run, {}},
        {{"--toggle"}, Action::Toggle, {}},
        {{callback}, Action::OpenURL, callback},
        {{"VARNO://auth/callback?x=1"}, Action::OpenURL, "VARNO://auth/callback?x=1"},
        {{"--register-url-handler"}, Action::RegisterURLHandler, {}},
        {{"--dev", "friends"}, Action::Development, "friends"},
        {{"--help"}, Action::Help, {}},
        {{"-h"}, Action::Help, {}},
        {{"--version"}, Action::Version, {}},
        {{"--toggle", "--toggle"}, Action::Invalid, {}},
        {{"--dev"}, Action::Invalid, {}},
        {{"https://example.com"}, Action::Invalid, {}},
        {{callback, "--toggle"}, Action::Invalid, {}},
        {{"--frobnicate"}, Action::Invalid, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        const CommandLine parsed = CommandLine::parse(c.arguments);
        EXPECT_EQ(parsed.action, c.action);
        EXPECT_EQ(parsed.argument, c.argument);
        EXPECT_EQ(parsed.error.isEmpty(), c.action != Action::Invalid);
    }
    EXPECT_TRUE(CommandLine::usage().contains("--toggle"));
}

} // namespace
} // namespace varno
