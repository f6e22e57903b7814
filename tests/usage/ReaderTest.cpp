// SPDX-License-Identifier: MIT
#include "async/CancellationError.h"
#include "model/Errors.h"
#include "model/Formatting.h"
#include "model/Json.h"
#include "usage/CodexBarReader.h"

#include "support/AwaitTask.h"
#include "support/EventLoopProbe.h"
#include "support/Files.h"
#include "support/ScopedEnvironment.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gmock/gmock.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;
using namespace testing;
using namespace varno;
using namespace varno::test;

namespace {

const char* failedReading =
    "Could not read local usage. Open CodexBar, check both providers, and try again.";
// On the fixed clock below, 2026-03-01 holds 111 codex and 222 claude tokens.
const QByteArray printValid =
    R"(printf '%s' '[{"provider":"codex","daily":[{"date":"2026-03-01","totalTokens":111}]},)"
    R"({"provider":"claude","daily":[{"date":"2026-03-01","totalTokens":222}]}]')"
    "\n";

// What a reading threw: the user-facing description, marked when it was a decoding error.
std::string failureOf(const ReaderOptions& options) {
    try {
        CodexBarReader::collect({}, options);
    } catch (const DecodingError& e) {
        return std::string("DecodingError: ") + e.what();
    } catch (...) {
        return describeError(std::current_exception()).toStdString();
    }
    return "no error";
}

// Each test gets its own home, settings, temporary folder and tools, and a fixed clock.
class Reader : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* folder : {"tmp", "home", "config", "marks", "work"})
            ASSERT_TRUE(QDir(root.path()).mkpath(folder));
    }

    QString path(const QString& relative) const { return root.filePath(relative); }

    QString writeFile(const QString& relative, const QByteArray& content,
                      QFile::Permissions permissions = QFile::ReadOwner | QFile::ExeOwner) {
        EXPECT_TRUE(test::writeFile(path(relative), content, permissions));
        return path(relative);
    }

    // A shell-script tool whose body may leave marks in the folder $MARKS.
    QString writeTool(const QString& relative, const QByteArray& body) {
        return writeFile(relative,
                         "#!/bin/sh\nMARKS='" + QFile::encodeName(path("marks")) + "'\n" + body);
    }

    // The fake CodexBar in one of its modes, through exec so that the pid it leaves in
    // marks/pid is the fake's own.
    QString writeFake(const QByteArray& mode, const QByteArray& extra = {}) {
        return writeTool("bin/fake-" + mode,
                         "echo $$ > \"$MARKS/pid\"\nexport FAKE_CODEXBAR_MODE='" + mode + "' " +
                             extra + "\nexec '" + VARNO_TOOL_FAKE_CODEXBAR + "' \"$@\"\n");
    }

    ReaderOptions options(const std::optional<QString>& codexbarCli, bool fixedClock = true) const {
        ReaderOptions o;
        o.environment = [codexbarCli](const QString& name) {
            return name == "CODEXBAR_CLI" ? codexbarCli : std::nullopt;
        };
        o.homeDirectory = path("home");
        o.temporaryDirectory = path("tmp");
        o.installLocations = {};
        if (fixedClock) {
            o.clock = [] { return QDateTime(QDate(2026, 3, 1), QTime(12, 0), QTimeZone::utc()); };
            o.timeZone = [] { return QTimeZone::utc(); };
        }
        return o;
    }

    QStringList temporaryFiles() const {
        return QDir(path("tmp"))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QByteArray mark(const char* name) const {
        return test::readFile(path("marks/") + name).trimmed();
    }
    pid_t toolPid() const { return pid_t(mark("pid").toLong()); }
    bool toolGone() const { return ::kill(toolPid(), 0) != 0 && errno == ESRCH; }

    // Runs the built varno as a user would, against the given tool, and waits for its end
    // unless told not to.
    std::unique_ptr<QProcess> runVarno(const QString& codexbarCli, bool untilFinished = true,
                                       const QString& temporaryFolder = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CODEXBAR_CLI", codexbarCli);
        env.insert("HOME", path("home"));
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("TMPDIR", temporaryFolder.isEmpty() ? path("tmp") : temporaryFolder);
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name); // it needs no display
        auto varno = std::make_unique<QProcess>();
        varno->setProcessEnvironment(env);
        varno->setWorkingDirectory(path("work"));
        varno->start(VARNO_TOOL_VARNO, {"--print-usage"});
        if (!untilFinished) {
            EXPECT_TRUE(varno->waitForStarted(5000));
            return varno;
        }
        EXPECT_TRUE(varno->waitForFinished(20000));
        EXPECT_EQ(varno->exitStatus(), QProcess::NormalExit);
        return varno;
    }

    QTemporaryDir root;
};

} // namespace

TEST_F(Reader, PicksTheFirstExecutableCandidateInOrder) {
    const QString app = "home/Applications/CodexBar.app/Contents/Helpers/CodexBarCLI";
    const QString local = "home/.local/bin/codexbar";
    const QString tool = writeTool("bin/codexbar", printValid);
    writeFile("bin/not-executable", "#!/bin/sh\n", QFile::ReadOwner | QFile::WriteOwner);
    QDir().mkpath(path("bin/directory"));
    QFile::link(tool, path("bin/link"));
    const struct {
        std::optional<QString> codexbarCli;
        QStringList installed; // relative to the test's root
        std::optional<QString> expected;
    } cases[] = {
        {tool, {app}, tool},
        {path("bin/link"), {app}, path("bin/link")},
        {path("bin/missing"), {app}, path(app)},
        {path("bin/not-executable"), {app}, path(app)},
        {path("bin/directory"), {app}, path(app)},
        {QString(), {app}, path(app)},
        {std::nullopt, {local, app}, path(app)},
        {std::nullopt, {local}, path(local)},
        {path("bin/missing"), {}, std::nullopt},
    };
    for (const auto& c : cases) {
        QDir(path("home")).removeRecursively();
        for (const QString& installed : c.installed)
            writeTool(installed, printValid);
        ReaderOptions o = options(c.codexbarCli);
        o.installLocations = ReaderOptions::defaultInstallLocations();
        EXPECT_EQ(CodexBarReader::findTool(o), c.expected) << "case " << &c - cases;
    }
}

TEST_F(Reader, RunsTheToolIntoAPrivateFileThatSwappingCannotRedirect) {
    const QString secret = writeFile("secret", "not json", QFile::ReadOwner | QFile::WriteOwner);
    // The tool reports what it was given, then replaces its output with a link to another file.
    const QString tool = writeTool("bin/tool", R"(out=$(readlink /proc/$$/fd/1)
{ printf '%s|' "$@"; echo; stat -c '%a %s %F' "$out"; readlink /proc/$$/fd/2; echo "$out"; } >"$MARKS/report"
)" + printValid + "rm \"$out\"\nln -s '" + QFile::encodeName(secret) +
                                                   "' \"$out\"\n");
    const UsageSnapshot snapshot = CodexBarReader::collect({}, options(tool));
    EXPECT_EQ((QList{snapshot.daily.value(29).totalTokens, snapshot.daily.value(59).totalTokens}),
              (QList<qint64>{111, 222}));
    const QList<QByteArray> report = mark("report").split('\n');
    EXPECT_EQ(report.mid(0, 3),
              (QList<QByteArray>{
                  "cost|--provider|both|--format|json|--days|30|--provider-native-only|--refresh|",
                  "600 0 regular empty file", "/dev/null"}));
    const QFileInfo out(QString::fromLocal8Bit(report.value(3)));
    EXPECT_EQ(out.path(), QFileInfo(path("tmp")).canonicalFilePath());
    EXPECT_THAT(out.fileName().toStdString(),
                MatchesRegex("varno-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.json"));
    EXPECT_TRUE(temporaryFiles().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(secret));
}

TEST_F(Reader, EachFailureHasItsMessageAndLeavesNothingBehind) {
    const std::string garbage = writeFile("bin/garbage", QByteArray(64, '\x01')).toStdString();
    const std::string noInterpreter =
        writeFile("bin/no-interpreter", "#!/nonexistent/interpreter\n").toStdString();
    ReaderOptions noTemporaryFolder = options(writeTool("bin/ran", "touch \"$MARKS/ran\"\n"));
    noTemporaryFolder.temporaryDirectory = path("no-such-folder");
    const struct {
        ReaderOptions options;
        Matcher<std::string> failure;
    } cases[] = {
        {options(std::nullopt), "Install CodexBar to read your Codex and Claude Code token usage."},
        {options(writeFake("fail")), failedReading},
        {options(writeTool("bin/killed", printValid + "kill -KILL $$\n")), failedReading},
        {options(writeTool("bin/stopped", "kill -TERM $$\nsleep 5\n")), failedReading},
        {options(writeFake("negative")),
         "CodexBar returned invalid daily totals. Please update CodexBar."},
        {options(writeFake("incomplete=claude")),
         "CodexBar could not finish reading claude history. Open CodexBar and try again."},
        {options(writeFake("empty")), StartsWith("DecodingError: ")},
        {options(QString::fromStdString(garbage)), HasSubstr(garbage)},
        {options(QString::fromStdString(noInterpreter)), HasSubstr(noInterpreter)},
        {noTemporaryFolder, AllOf(HasSubstr("no-such-folder"), HasSubstr(strerror(ENOENT)))},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(failureOf(c.options), c.failure);
        EXPECT_TRUE(temporaryFiles().isEmpty()) << temporaryFiles().join(' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(path("marks/ran"))) << "started without a temporary folder";
}

TEST_F(Reader, TimeLimitStopsTheToolWithSigtermThenSigkill) {
    for (const auto& [mode, grace, needsKill] :
         {std::tuple{"hang", 3000ms, false}, {"ignore-sigterm", 300ms, true}}) {
        SCOPED_TRACE(mode);
        ReaderOptions o = options(writeFake(mode));
        o.timeLimit = 300ms;
        o.gracePeriod = grace;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(failureOf(o), "Reading usage timed out. Open CodexBar and try again.");
        const auto elapsed = std::chrono::steady_clock::now() - started;
        EXPECT_GE(elapsed, o.timeLimit);
        // SIGTERM alone ends an obedient tool; the other has its grace period before SIGKILL.
        EXPECT_EQ(elapsed >= o.timeLimit + grace, needsKill);
        EXPECT_TRUE(toolGone());
        EXPECT_TRUE(temporaryFiles().isEmpty());
    }
}

TEST_F(Reader, ReadsMegabytesFromTheFakeToolWithoutBlockingTheCaller) {
    EventLoopProbe probe(5);
    const UsageSnapshot huge = awaitTask(
        CodexBarReader::read({}, options(writeFake("huge", "FAKE_CODEXBAR_DELAY_MS=300"), false)));
    // 300 ms of waiting at a 5 ms tick: a blocked loop would show almost none.
    EXPECT_GT(probe.ticks(), 20);
    EXPECT_EQ(huge.daily.value(59).date,
              localDay(QDateTime::currentDateTime(), QTimeZone::systemTimeZone()));
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(Reader, CancellationStopsTheToolPromptlyAndDropsAFinishedReading) {
    std::stop_source whileRunning;
    auto hung = CodexBarReader::read(whileRunning.get_token(), options(writeFake("hang")));
    EXPECT_TRUE(waitUntil([&] { return toolPid() > 0; }, 5s));
    const auto cancelled = std::chrono::steady_clock::now();
    whileRunning.request_stop();
    EXPECT_THROW(awaitTask(std::move(hung), 5s), CancellationError);
    // One poll interval to notice, then the tool obeys SIGTERM well within its grace.
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 400ms);
    EXPECT_TRUE(toolGone());

    // Cancelled after the tool has finished but before the caller resumed: no snapshot.
    // The tool takes a moment, so that read() is surely waiting when it ends; a tool
    // that finished before the first await would let read() return at once.
    ReaderOptions quick = options(writeFake("ok", "FAKE_CODEXBAR_DELAY_MS=200"));
    auto readingDone = std::make_shared<std::atomic<bool>>(false);
    quick.clock = [readingDone, clock = quick.clock] {
        *readingDone = true;
        return clock();
    };
    std::stop_source afterFinish;
    auto finished = CodexBarReader::read(afterFinish.get_token(), quick);
    // The event loop stands still while the background reading ends.
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    while (!*readingDone && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(100ms);
    afterFinish.request_stop();
    EXPECT_TRUE(readingDone->load());
    EXPECT_THROW(awaitTask(std::move(finished), 5s), CancellationError);
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(Reader, PrintUsagePrintsTheUploadTheNextSyncWouldSendOrTheFailure) {
    const auto varno = runVarno(VARNO_TOOL_FAKE_CODEXBAR);
    EXPECT_EQ(varno->readAllStandardError(), "");
    ASSERT_EQ(varno->exitCode(), 0);
    const QByteArray out = varno->readAllStandardOutput();
    const JsonNode upload = parseJsonDocument(out);
    const QString deviceId = upload.requiredString("deviceId");
    const QString collectedAt = upload.requiredString("collectedAt");
    EXPECT_EQ(deviceId.size(), 36);
    EXPECT_LT(qAbs(QDateTime::fromString(collectedAt, Qt::ISODate)
                       .secsTo(QDateTime::currentDateTimeUtc())),
              60);
    // Byte for byte what a sync would send with this reading.
    const auto rows = CodexBarReader::collect({}, options(VARNO_TOOL_FAKE_CODEXBAR, false)).daily;
    EXPECT_EQ(out, (UsageUpload{deviceId, collectedAt, rows}.toJson() + "\n"));
    EXPECT_TRUE(temporaryFiles().isEmpty());

    // A failed reading goes to standard error, with status 1.
    const auto failed = runVarno(writeFake("fail"));
    EXPECT_EQ(failed->exitCode(), 1);
    EXPECT_EQ(failed->readAllStandardOutput(), "");
    EXPECT_EQ(failed->readAllStandardError(), QByteArray(failedReading) + "\n");
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(Reader, ATemporaryFolderThatIsGoneFallsBackToTheSystemOneNeverTheWorkingFolder) {
    // The tool reports where its output goes.
    const QString tool = writeTool(
        "bin/tool", "out=$(readlink /proc/$$/fd/1)\necho \"$out\" >\"$MARKS/out\"\n" + printValid);
    const auto varno = runVarno(tool, true, path("no-such-folder"));
    EXPECT_EQ(varno->readAllStandardError(), "");
    EXPECT_EQ(varno->exitCode(), 0);
    const QFileInfo out(QString::fromLocal8Bit(mark("out")));
    EXPECT_EQ(out.path().toStdString(), "/tmp");
    EXPECT_TRUE(out.fileName().startsWith("varno-")) << out.filePath().toStdString();
    EXPECT_FALSE(out.exists());
    EXPECT_TRUE(QDir(path("work")).isEmpty());

    // A reading told to use no folder at all, or a relative one, refuses to start.
    for (const QString& folder : {QString(), QStringLiteral("tmp")}) {
        ReaderOptions o = options(tool);
        o.temporaryDirectory = folder;
        EXPECT_THAT(failureOf(o), HasSubstr("temporary folder")) << folder.toStdString();
    }
}

TEST_F(Reader, PrintUsageTerminatedStopsTheToolAndLeavesNoFile) {
    const auto varno = runVarno(writeFake("hang"), false);
    ASSERT_TRUE(waitUntil([&] { return toolPid() > 0; }, 5s));
    EXPECT_EQ(temporaryFiles().size(), 1) << "the tool writes into its output file";
    varno->terminate();
    ASSERT_TRUE(varno->waitForFinished(5000));
    EXPECT_EQ(varno->exitCode(), 1);
    EXPECT_EQ(varno->readAllStandardError(), "The operation was cancelled.\n");
    EXPECT_TRUE(toolGone());
    if (!toolGone())
        ::kill(toolPid(), SIGKILL);
    EXPECT_TRUE(temporaryFiles().isEmpty()) << temporaryFiles().join(' ').toStdString();
}

// The process's zone as TZ names it at each reading, wherever UTC's day is; how the
// window steps over a night the clocks skip is the decoding tests' concern.
TEST_F(Reader, WindowEndsOnTodayInTheZoneThatTZNames) {
    const ScopedEnvironment tz("TZ");
    const QString tool = writeTool("bin/tool", printValid);
    for (const auto& [zone, local] : {std::pair{"America/Santiago", QTime(23, 45)},
                                      {"Asia/Beirut", QTime(0, 30)},
                                      {"America/Havana", QTime(23, 59)}}) {
        tz.set(zone);
        const QDateTime now = QDateTime(QDate(2026, 3, 1), local, QTimeZone(zone)).toUTC();
        SCOPED_TRACE(zone);
        ASSERT_NE(now.date(), QDate(2026, 3, 1));
        ReaderOptions o = options(tool);
        o.clock = [now] { return now; };
        o.timeZone = ReaderOptions().timeZone;
        const UsageSnapshot snapshot = CodexBarReader::collect({}, o);
        EXPECT_EQ(snapshot.collectedAt, now);
        EXPECT_EQ(
            (QList{snapshot.daily.value(29).totalTokens, snapshot.daily.value(59).totalTokens}),
            (QList<qint64>{111, 222}));
    }
}
