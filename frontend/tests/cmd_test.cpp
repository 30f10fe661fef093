// The tool runner: start, time-out, start failure, capture of both streams, the line rule and the
// Windows splitting of the command line.
#include "cmd.h"

#include "qt_env.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace {

QByteArray Hex(const QByteArray &bytes) { return bytes.toHex(); }

QByteArray EmitCmd(const QByteArray &out, const QByteArray &err, int status, int repeat = 1)
{
    return QByteArray(FAKE_EMIT) + " " + (out.isEmpty() ? QByteArray("\"\"") : Hex(out)) + " " +
           (err.isEmpty() ? QByteArray("\"\"") : Hex(err)) + " " + QByteArray::number(status) + " " +
           QByteArray::number(repeat);
}

ByteLines Lines(std::initializer_list<const char *> items)
{
    ByteLines lines;
    for (const char *s : items)
        lines.append(QByteArray(s));
    return lines;
}

TEST(SplitLines, LineEndsAndZeroByte)
{
    struct Case {
        QByteArray text;
        ByteLines lines;
    };
    const Case cases[] = {
        {QByteArray(), {}},
        {"a\r\nb", Lines({"a", "b"})},
        {"a\r\r\nb", Lines({"a", "", "b"})},
        {"x\r\r\ny\r\r\n", Lines({"x", "", "y", ""})},
        {"a\nb\rc\n", Lines({"a", "b", "c"})},
        {"\n", Lines({""})},
        {"\n\r", Lines({"", ""})},
        {"last", Lines({"last"})},
        {QByteArray("ab\0cd\r\n", 7), Lines({"ab"})},
        {QByteArray("\0ab", 3), {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SplitLines(c.text), c.lines) << c.text.toHex().constData();
}

TEST(SplitCommandLine, WindowsRules)
{
    using Args = std::vector<QByteArray>;
    struct Case {
        QByteArray line;
        Args args;
    };
    const Case cases[] = {
        {"prog", {"prog"}},
        {"  prog   a \t b  ", {"prog", "a", "b"}},
        {"prog \"file 1.txt\"", {"prog", "file 1.txt"}},
        {"prog /FLDR\"C:\\My Data\"", {"prog", "/FLDRC:\\My Data"}},
        {"prog \"\"", {"prog", ""}},
        {"prog a\"b c\"d", {"prog", "ab cd"}},
        // Two quotes inside quotes: one literal quote, and the quoted stretch ends.
        {"prog \"a\"\"b c\"", {"prog", "a\"b", "c"}},
        // Backslashes count only before a quote.
        {"prog a\\\\b", {"prog", "a\\\\b"}},
        {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},
        {"prog a\\\"b", {"prog", "a\"b"}},
        {"prog a\\\\\\\"b", {"prog", "a\\\"b"}},
        // A folder ending in a backslash swallows its closing quote.
        {"prog /FLDR\"C:\\\" /get \"n\"", {"prog", "/FLDRC:\" /get n"}},
        // The program's path: quotes delimit it, backslashes stay as they are.
        {"\"C:\\Program Files\\x.exe\" /a", {"C:\\Program Files\\x.exe", "/a"}},
        {"C:\\dir\\\"x\" y", {"C:\\dir\\\"x\"", "y"}},
        {"", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line.constData();
}

TEST(RunAndCapture, ChildThatEndsAtOnce)
{
    ByteLines out, err;
    std::uint32_t exitCode = 12345;
    EXPECT_EQ(RunAndCapture(EmitCmd("hello\r\nworld\r\n", "", 7), 30, out, err, exitCode), 0);
    EXPECT_EQ(exitCode, 7u);
    EXPECT_EQ(out, Lines({"hello", "world"}));
    EXPECT_TRUE(err.isEmpty());
}

TEST(RunAndCapture, PreviousContentsAreReplaced)
{
    ByteLines out = Lines({"old"}), err = Lines({"old"});
    std::uint32_t exitCode = 99;
    EXPECT_EQ(RunAndCapture(EmitCmd("", "", 0), 30, out, err, exitCode), 0);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_TRUE(err.isEmpty());
}

TEST(RunAndCapture, LineRuleAndZeroByteThroughThePipe)
{
    ByteLines out, err;
    std::uint32_t exitCode = 0;
    ASSERT_EQ(RunAndCapture(EmitCmd("x\r\r\ny\r\r\n", QByteArray("e1\0e2", 5), 0), 30, out, err,
                            exitCode),
              0);
    EXPECT_EQ(out, Lines({"x", "", "y", ""}));
    EXPECT_EQ(err, Lines({"e1"}));
}

TEST(RunAndCapture, StandardErrorOnly)
{
    ByteLines out, err;
    std::uint32_t exitCode = 0;
    ASSERT_EQ(RunAndCapture(EmitCmd("", "only\r\nhere", 3), 30, out, err, exitCode), 0);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(err, Lines({"only", "here"}));
    EXPECT_EQ(exitCode, 3u);
}

TEST(RunAndCapture, OutputLargerThanAPipeIsCapturedWhole)
{
    ByteLines out, err;
    std::uint32_t exitCode = 1;
    // 200000 lines of "0123456789": far more than a pipe holds while the child runs.
    ASSERT_EQ(RunAndCapture(EmitCmd("0123456789\r\n", "", 0, 200000), 30, out, err, exitCode), 0);
    EXPECT_EQ(exitCode, 0u);
    ASSERT_EQ(out.size(), 200000);
    EXPECT_EQ(out.front(), "0123456789");
    EXPECT_EQ(out.back(), "0123456789");
}

TEST(RunAndCapture, ChildPastItsTimeOutIsKilled)
{
    TestApp();
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);

    ByteLines out, err;
    std::uint32_t exitCode = 0;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(RunAndCapture(QByteArray(FAKE_HANG) + " started", 1, out, err, exitCode), -1);
    const qint64 ms = clock.elapsed();
    EXPECT_EQ(exitCode, 1u);
    EXPECT_EQ(out, Lines({"started"}));
    // 11 polls of 100 ms: at least the nominal second, and nowhere near the child's own minute.
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 20000);
    // Window events were dispatched between the polls.
    EXPECT_GT(ticks, 0);
}

// A child the runner gives up on (time-out, or a stop asked for during the run) is asked to stop
// first and may take its time to clean up, its output still read; one that does not end within
// the grace is killed.
TEST(RunAndCapture, AChildGivenUpOnIsAskedToStopFirst)
{
    struct Case {
        const char *mode;
        bool askToStop; // else the time-out of 1 s
        std::int32_t result;
        ByteLines out;
    };
    const Case cases[] = {
        {"trap", false, kRunTimedOut, Lines({"started", "stopping", "stopped"})},
        {"trap", true, kRunStopped, Lines({"started", "stopping", "stopped"})},
        {"ignore", true, kRunStopped, Lines({"started"})},
    };
    for (const Case &c : cases) {
        QTemporaryDir dir;
        const QString ready = dir.filePath("ready");
        TRunControl control;
        control.StopRequested = [&] { return c.askToStop && QFile::exists(ready); };
        ByteLines out, err;
        std::uint32_t exitCode = 0;
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(RunAndCapture(QByteArray(FAKE_HANG) + " started " + c.mode + " " + QFile::encodeName(ready),
                                c.askToStop ? 30 : 2, out, err, exitCode, control),
                  c.result)
            << c.mode;
        EXPECT_EQ(exitCode, 1u) << c.mode;
        EXPECT_EQ(out, c.out) << c.mode;
        if (std::string(c.mode) == "ignore") {
            EXPECT_GE(clock.elapsed(), kStopGraceMs);
        }
        EXPECT_LT(clock.elapsed(), 20000) << c.mode;
    }
}

// Lines of standard error reach the caller's watch in order while the child runs; those it takes
// as headway start the time-out again, so that only a child that has stopped moving is ended.
TEST(RunAndCapture, HeadwayOnStandardErrorStartsTheTimeOutAgain)
{
    for (const bool headway : {true, false}) {
        ByteLines seen, out, err;
        std::uint32_t exitCode = 7;
        TRunControl control;
        control.ErrLine = [&](const QByteArray &line) {
            seen.append(line);
            return headway;
        };
        // Ten lines 200 ms apart: two seconds, twice the time-out.
        const std::int32_t result = RunAndCapture(QByteArray(FAKE_HANG) + " started tick", 1, out, err, exitCode, control);
        if (headway) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(exitCode, 0u);
            ASSERT_EQ(seen.size(), 10);
            for (int i = 0; i < 10; ++i)
                EXPECT_EQ(seen[i], "tick " + QByteArray::number(i + 1));
            EXPECT_EQ(err, seen); // the lines are captured as well
        } else {
            EXPECT_EQ(result, kRunTimedOut);
            EXPECT_LT(seen.size(), 10);
        }
    }
}

// A front end started by a parent that ignores SIGCHLD inherits that: the system would then reap
// the child unasked, and a failing child would read as a success.
TEST(RunAndCapture, AnInheritedIgnoredChildSignalLosesNoExitStatus)
{
    struct sigaction ignore {}, saved {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &saved), 0);
    ByteLines out, err;
    std::uint32_t exitCode = 0;
    const int started = RunAndCapture(EmitCmd("x", "", 100), 30, out, err, exitCode);
    ::sigaction(SIGCHLD, &saved, nullptr);
    ASSERT_EQ(started, 0);
    EXPECT_EQ(exitCode, 100u);
}

TEST(RunAndCapture, MissingProgramLeavesListsAndExitCodeAlone)
{
    ByteLines out = Lines({"keep"}), err = Lines({"keep too"});
    std::uint32_t exitCode = 4242;
    EXPECT_EQ(RunAndCapture("/nonexistent/folder/cabrix /dir", 30, out, err, exitCode), ENOENT);
    EXPECT_EQ(out, Lines({"keep"}));
    EXPECT_EQ(err, Lines({"keep too"}));
    EXPECT_EQ(exitCode, 4242u);
    EXPECT_FALSE(SystemErrorText(ENOENT).isEmpty());
    EXPECT_FALSE(SystemErrorText(ENOENT).endsWith('.'));
}

TEST(RunAndCapture, ChildGetsSplitArgumentsOwnEnvironmentNoInputNoTerminal)
{
    qputenv("XDG_CONFIG_HOME", "/tmp/tollmark-test-config");
    ByteLines out, err;
    std::uint32_t exitCode = 1;
    const QByteArray line = QByteArray(FAKE_PROBE) +
                            " /TCP127.0.0.1 /FLDR\"/tmp/x y\" /get \"a b.txt\" \xC0\xFF";
    ASSERT_EQ(RunAndCapture(line, 30, out, err, exitCode), 0);
    EXPECT_EQ(exitCode, 0u);

    ByteLines expected = Lines({"/TCP127.0.0.1", "/FLDR/tmp/x y", "/get", "a b.txt", "\xC0\xFF",
                                "--env--", "SystemRoot=c:\\windows"});
    if (const char *home = std::getenv("HOME"))
        expected.append(QByteArray("HOME=") + home);
    expected.append("XDG_CONFIG_HOME=/tmp/tollmark-test-config");
    expected.append("stdin:end");
    expected.append("tty:none");
    EXPECT_EQ(out, expected);
    qunsetenv("XDG_CONFIG_HOME");
}

} // namespace
