#include "async/CancellationError.h"
#include "async/Job.h"
#include "model/Errors.h"
#include "model/Formatting.h"
#include "usage/CodexBarReader.h"

#include "support/AwaitTask.h"
#include "support/EventLoopProbe.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;
using varno::AppError;
using varno::CancellationError;
using varno::CodexBarReader;
using varno::DecodingError;
using varno::FileError;
using varno::Job;
using varno::ReaderOptions;
using varno::UsageSnapshot;
using varno::test::awaitTask;
using varno::test::waitUntil;

namespace {

const QString failedReading = QStringLiteral(
    "Could not read local usage. Open CodexBar, check both providers, and try again.");
const QString timedOut = QStringLiteral("Reading usage timed out. Open CodexBar and try again.");
const QString installCodexBar =
    QStringLiteral("Install CodexBar to read your Codex and Claude Code token usage.");

// A valid document for the fixed clock below: 2026-03-01 holds 111 codex and 222 claude tokens.
const char* validJson =
    R"([{"provider":"codex","daily":[{"date":"2026-03-01","totalTokens":111}]},)"
    R"({"provider":"claude","daily":[{"date":"2026-03-01","totalTokens":222}]}])";

bool processIsGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Each test gets its own home, temporary folder and tools, and a fixed clock.
class Reader : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        for (const char* folder : {"tmp", "home", "bin", "marks"})
            ASSERT_TRUE(QDir(root.path()).mkpath(folder));
    }

    QString path(const QString& relative) const { return root.filePath(relative); }

    QString writeFile(const QString& relative, const QByteArray& content,
                      QFile::Permissions permissions) {
        const QString file = path(relative);
        QDir().mkpath(QFileInfo(file).path());
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly)) << file.toStdString();
        out.write(content);
        out.close();
        out.setPermissions(permissions);
        return file;
    }

    // A shell-script tool whose body may use $MARKS (a folder for what it wants to report).
    QString writeTool(const QString& relative, const QByteArray& body) {
        return writeFile(relative,
                         "#!/bin/sh\nMARKS='" + QFile::encodeName(path("marks")) + "'\n" + body,
                         QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A tool that prints the valid document and exits 0.
    QString writeValidTool(const QString& relative = QStringLiteral("bin/tool")) {
        return writeTool(relative, QByteArray("printf '%s' '") + validJson + "'\n");
    }

    // The fake CodexBar tool in one of its modes, started through exec so that the
    // process the reader stops is the fake itself. It leaves its pid in marks/pid.
    QString writeFakeTool(const QByteArray& mode, const QByteArray& extra = {}) {
        return writeTool(QStringLiteral("bin/fake"),
                         "echo $$ > \"$MARKS/pid\"\nexport FAKE_CODEXBAR_MODE='" + mode + "' " +
                             extra + "\nexec '" + VARNO_TOOL_FAKE_CODEXBAR + "' \"$@\"\n");
    }

    ReaderOptions options(const std::optional<QString>& codexbarCli) const {
        ReaderOptions o;
        o.environment = [codexbarCli](const QString& name) -> std::optional<QString> {
            return name == QLatin1String("CODEXBAR_CLI") ? codexbarCli : std::nullopt;
        };
        o.homeDirectory = path("home");
        o.temporaryDirectory = path("tmp");
        o.installLocations = {};
        o.timeLimit = 10s;
        o.clock = [] { return QDateTime(QDate(2026, 3, 1), QTime(12, 0), QTimeZone::utc()); };
        o.timeZone = [] { return QTimeZone::utc(); };
        return o;
    }

    QStringList temporaryFiles() const {
        return QDir(path("tmp"))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QByteArray mark(const char* name) const {
        QFile file(path(QStringLiteral("marks/") + name));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    }

    pid_t toolPid() const { return pid_t(mark("pid").toLong()); }

    QTemporaryDir root;
};

} // namespace

TEST_F(Reader, PicksTheFirstExecutableCandidate) {
    const QString homeApp =
        QStringLiteral("home/Applications/CodexBar.app/Contents/Helpers/CodexBarCLI");
    const QFile::Permissions plain = QFile::ReadOwner | QFile::WriteOwner;
    const QString executable = writeValidTool(QStringLiteral("bin/codexbar"));
    writeFile(QStringLiteral("bin/not-executable"), "#!/bin/sh\n", plain);
    QDir().mkpath(path(QStringLiteral("bin/directory")));
    QFile::link(executable, path(QStringLiteral("bin/link")));

    struct Case {
        const char* name;
        std::optional<QString> codexbarCli;
        QStringList installed; // created as executables, relative to the test's root
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"CODEXBAR_CLI wins over the app", executable, {homeApp}, executable},
        {"CODEXBAR_CLI through a symlink", path("bin/link"), {homeApp}, path("bin/link")},
        {"CODEXBAR_CLI missing", path("bin/missing"), {homeApp}, path(homeApp)},
        {"CODEXBAR_CLI not executable", path("bin/not-executable"), {homeApp}, path(homeApp)},
        {"CODEXBAR_CLI a directory", path("bin/directory"), {homeApp}, path(homeApp)},
        {"CODEXBAR_CLI empty", QString(), {homeApp}, path(homeApp)},
        {"the app in home before ~/.local/bin",
         std::nullopt,
         {QStringLiteral("home/.local/bin/codexbar"), homeApp},
         path(homeApp)},
        {"~/.local/bin",
         std::nullopt,
         {QStringLiteral("home/.local/bin/codexbar")},
         path("home/.local/bin/codexbar")},
        {"nothing installed", path("bin/missing"), {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(path("home")).removeRecursively();
        QDir().mkpath(path("home"));
        for (const QString& tool : c.installed)
            writeValidTool(tool);
        ReaderOptions o = options(c.codexbarCli);
        o.installLocations = ReaderOptions::defaultInstallLocations();
        EXPECT_EQ(CodexBarReader::findTool(o), c.expected);
    }
}

TEST_F(Reader, RunsTheToolWithItsCommandLineAndAPrivateOutputFile) {
    const QString tool = writeTool(QStringLiteral("bin/tool"), R"(
printf '%s|' "$@" > "$MARKS/args"
out=$(readlink /proc/$$/fd/1)
echo "$out" > "$MARKS/out"
stat -c '%a %s %F' "$out" > "$MARKS/stat"
readlink /proc/$$/fd/2 > "$MARKS/err"
echo noise >&2
)" + QByteArray("printf '%s' '") + validJson + "'\n");
    const UsageSnapshot snapshot = CodexBarReader::collect({}, options(tool));
    ASSERT_EQ(snapshot.daily.size(), 60);
    EXPECT_EQ(snapshot.daily[29].date, "2026-03-01");
    EXPECT_EQ(snapshot.daily[29].totalTokens, 111);
    EXPECT_EQ(snapshot.daily[59].totalTokens, 222);
    EXPECT_EQ(snapshot.collectedAt, QDateTime(QDate(2026, 3, 1), QTime(12, 0), QTimeZone::utc()));
    EXPECT_EQ(mark("args"), "cost|--provider|both|--format|json|--days|30|--provider-native-only|"
                            "--refresh|");
    const QString out = QString::fromLocal8Bit(mark("out"));
    EXPECT_EQ(QFileInfo(out).path(), QFileInfo(path("tmp")).canonicalFilePath());
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^varno-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.json$"))
                    .match(QFileInfo(out).fileName())
                    .hasMatch())
        << out.toStdString();
    EXPECT_EQ(mark("stat"), "600 0 regular empty file");
    EXPECT_EQ(mark("err"), "/dev/null");
    EXPECT_FALSE(QFileInfo::exists(out));
}

TEST_F(Reader, EachFailureHasItsMessageAndLeavesNothingBehind) {
    struct Case {
        const char* name;
        QByteArray body;
        QString expected;
    };
    const QByteArray json = QByteArray("printf '%s' '") + validJson + "'\n";
    const Case cases[] = {
        {"exit 1 after valid output", json + "exit 1\n", failedReading},
        {"exit 3 with nothing", "exit 3\n", failedReading},
        {"killed by a signal", json + "kill -KILL $$\n", failedReading},
        {"terminated by itself", "kill -TERM $$\nsleep 5\n", failedReading},
        {"invalid totals",
         R"(printf '%s' '[{"provider":"codex","daily":[{"date":"2026-03-01","totalTokens":-1}]}]')",
         QStringLiteral("CodexBar returned invalid daily totals. Please update CodexBar.")},
        {"incomplete claude",
         R"(printf '%s' '[{"provider":"codex","daily":[]},{"provider":"claude"}]')",
         QStringLiteral(
             "CodexBar could not finish reading claude history. Open CodexBar and try again.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString tool = writeTool(QStringLiteral("bin/tool"), c.body);
        try {
            CodexBarReader::collect({}, options(tool));
            ADD_FAILURE() << "no error";
        } catch (const AppError& e) {
            EXPECT_EQ(e.message(), c.expected);
        }
        EXPECT_TRUE(temporaryFiles().isEmpty()) << temporaryFiles().join(' ').toStdString();
    }
}

TEST_F(Reader, PlatformFailuresKeepTheirDescription) {
    // Nothing to decode: the JSON decoder's error.
    EXPECT_THROW(CodexBarReader::collect({}, options(writeTool("bin/silent", "exit 0\n"))),
                 DecodingError);
    EXPECT_TRUE(temporaryFiles().isEmpty());

    // Executable but not a program the system can start.
    const QString garbage = writeFile(QStringLiteral("bin/garbage"), QByteArray(64, '\x01'),
                                      QFile::ReadOwner | QFile::ExeOwner);
    const QString noInterpreter =
        writeFile(QStringLiteral("bin/no-interpreter"), "#!/nonexistent/interpreter\n",
                  QFile::ReadOwner | QFile::ExeOwner);
    for (const QString& tool : {garbage, noInterpreter}) {
        try {
            CodexBarReader::collect({}, options(tool));
            ADD_FAILURE() << "launched " << tool.toStdString();
        } catch (const FileError& e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(tool)) << e.what();
        }
        EXPECT_TRUE(temporaryFiles().isEmpty());
    }

    // No temporary folder: the tool never starts.
    const QString tool = writeTool(QStringLiteral("bin/tool"), "touch \"$MARKS/ran\"\n");
    ReaderOptions o = options(tool);
    o.temporaryDirectory = path("no-such-folder");
    try {
        CodexBarReader::collect({}, o);
        ADD_FAILURE() << "no error";
    } catch (const FileError& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("no-such-folder")))
            << e.what();
        EXPECT_TRUE(
            QString::fromUtf8(e.what()).contains(QString::fromLocal8Bit(std::strerror(ENOENT))))
            << e.what();
    }
    EXPECT_FALSE(QFileInfo::exists(path("marks/ran")));
}

TEST_F(Reader, MissingToolCreatesNoFile) {
    try {
        CodexBarReader::collect({}, options(std::nullopt));
        ADD_FAILURE() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.message(), installCodexBar);
    }
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(Reader, OutputSwappedByTheToolIsNotFollowed) {
    // The tool replaces its output file with a link to another file after writing.
    const QString secret =
        writeFile(QStringLiteral("secret"), "not json", QFile::ReadOwner | QFile::WriteOwner);
    const QString tool = writeTool(QStringLiteral("bin/tool"),
                                   QByteArray("printf '%s' '") + validJson + "'\n" +
                                       "out=$(readlink /proc/$$/fd/1)\nrm \"$out\"\nln -s '" +
                                       QFile::encodeName(secret) + "' \"$out\"\n");
    const UsageSnapshot snapshot = CodexBarReader::collect({}, options(tool));
    EXPECT_EQ(snapshot.daily[29].totalTokens, 111);
    EXPECT_TRUE(temporaryFiles().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(secret));
}

TEST_F(Reader, TimeLimitStopsTheToolPolitelyThenByForce) {
    struct Case {
        const char* name;
        QByteArray mode;
        std::chrono::milliseconds grace;
        bool needsKill;
    };
    const Case cases[] = {
        {"stops on SIGTERM", "hang", 3000ms, false},
        {"ignores SIGTERM", "ignore-sigterm", 300ms, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderOptions o = options(writeFakeTool(c.mode));
        o.timeLimit = 300ms;
        o.gracePeriod = c.grace;
        const auto started = std::chrono::steady_clock::now();
        try {
            CodexBarReader::collect({}, o);
            ADD_FAILURE() << "no error";
        } catch (const AppError& e) {
            EXPECT_EQ(e.message(), timedOut);
        }
        const auto elapsed = std::chrono::steady_clock::now() - started;
        EXPECT_GE(elapsed, o.timeLimit);
        if (c.needsKill)
            EXPECT_GE(elapsed, o.timeLimit + c.grace); // it had its grace period before SIGKILL
        else
            EXPECT_LT(elapsed, o.timeLimit + c.grace); // SIGTERM alone ended it
        const pid_t pid = toolPid();
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(processIsGone(pid));
        EXPECT_TRUE(temporaryFiles().isEmpty());
    }
}

TEST_F(Reader, ReadsTheFakeToolWithoutBlockingTheCaller) {
    // Real clock and zone: the window ends today, as the fake tool's does.
    auto onRealClock = [](ReaderOptions o) {
        o.clock = [] { return QDateTime::currentDateTimeUtc(); };
        o.timeZone = [] { return QTimeZone::systemTimeZone(); };
        return o;
    };
    const ReaderOptions huge =
        onRealClock(options(writeFakeTool("huge", "FAKE_CODEXBAR_DELAY_MS=300")));
    varno::test::EventLoopProbe probe(5);
    const UsageSnapshot fromHuge = awaitTask(CodexBarReader::read({}, huge), 20s);
    // 300 ms of waiting at a 5 ms tick: a blocked loop would show almost none.
    EXPECT_GT(probe.ticks(), 20);
    ASSERT_EQ(fromHuge.daily.size(), 60);
    const QString today =
        varno::localDay(QDateTime::currentDateTime(), QTimeZone::systemTimeZone());
    EXPECT_EQ(fromHuge.daily[29].date, today);
    EXPECT_EQ(fromHuge.daily[59].date, today);
    EXPECT_TRUE(temporaryFiles().isEmpty());

    // The megabytes around the totals change nothing.
    const UsageSnapshot plain =
        awaitTask(CodexBarReader::read({}, onRealClock(options(writeFakeTool("ok")))));
    qint64 sum = 0;
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(fromHuge.daily[i].totalTokens, plain.daily[i].totalTokens) << i;
        sum += plain.daily[i].totalTokens;
    }
    EXPECT_GT(sum, 0);
}

TEST_F(Reader, CancellingWhileTheToolRunsStopsItPromptly) {
    const ReaderOptions o = options(writeFakeTool("hang"));
    std::shared_ptr<Job> job = Job::start([o](std::stop_token token) -> QCoro::Task<void> {
        co_await CodexBarReader::read(token, o);
    });
    ASSERT_TRUE(waitUntil([&] { return toolPid() > 0; }, 5s));
    const pid_t pid = toolPid();
    const auto cancelled = std::chrono::steady_clock::now();
    job->cancel();
    awaitTask(job->wait(), 5s);
    const auto elapsed = std::chrono::steady_clock::now() - cancelled;
    // One poll interval to notice, then the tool obeys SIGTERM well within its grace.
    EXPECT_LT(elapsed, 400ms);
    ASSERT_TRUE(job->failure());
    EXPECT_THROW(std::rethrow_exception(job->failure()), CancellationError);
    EXPECT_TRUE(processIsGone(pid));
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(Reader, CancellationAfterTheToolFinishedDropsTheSnapshot) {
    ReaderOptions o = options(writeValidTool());
    auto readingDone = std::make_shared<std::atomic<bool>>(false);
    o.clock = [readingDone] {
        *readingDone = true;
        return QDateTime(QDate(2026, 3, 1), QTime(12, 0), QTimeZone::utc());
    };
    auto delivered = std::make_shared<bool>(false);
    std::shared_ptr<Job> job =
        Job::start([o, delivered](std::stop_token token) -> QCoro::Task<void> {
            co_await CodexBarReader::read(token, o);
            *delivered = true;
        });
    // Keep the event loop still until the background reading is over, so that the
    // result waits for the caller, then cancel before the caller can resume.
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    while (!*readingDone && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(readingDone->load());
    std::this_thread::sleep_for(100ms);
    job->cancel();
    awaitTask(job->wait(), 5s);
    EXPECT_FALSE(*delivered);
    ASSERT_TRUE(job->failure());
    EXPECT_THROW(std::rethrow_exception(job->failure()), CancellationError);
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(Reader, AlreadyCancelledReadingStartsNothing) {
    std::stop_source stopped;
    stopped.request_stop();
    const QString tool = writeTool(QStringLiteral("bin/tool"), "touch \"$MARKS/ran\"\n");
    EXPECT_THROW(awaitTask(CodexBarReader::read(stopped.get_token(), options(tool))),
                 CancellationError);
    EXPECT_THROW(CodexBarReader::collect(stopped.get_token(), options(tool)), CancellationError);
    EXPECT_FALSE(QFileInfo::exists(path("marks/ran")));
    EXPECT_TRUE(temporaryFiles().isEmpty());
}
