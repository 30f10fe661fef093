// The front end's Windows units against real Windows processes and the prefix's devices: the tool
// runner with a small child (tollmark_runner_child.exe beside this program), the DOS device list
// and the drives with their free space. scripts/wine-test.sh registers the COM port named by
// CABRIX_WINE_COM_LISTED and passes the total size of drive C in CABRIX_WINE_C_TOTAL_BYTES.
#include "cmd.h"
#include "dos_devices.h"
#include "drives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

QByteArray ChildPath()
{
    char self[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    QByteArray path(self, static_cast<qsizetype>(n));
    return path.left(path.lastIndexOf('\\') + 1) + "tollmark_runner_child.exe";
}

QByteArray Hex(const QByteArray &bytes) { return bytes.isEmpty() ? "\"\"" : bytes.toHex(); }

ByteLines Lines(std::initializer_list<const char *> items)
{
    ByteLines lines;
    for (const char *s : items)
        lines.append(QByteArray(s));
    return lines;
}

TEST(RunnerWin, CapturesBothStreamsAndTheExitStatus)
{
    struct Case {
        const char *what;
        QByteArray out, err;
        int status;
        ByteLines outLines, errLines;
    };
    const Case cases[] = {
        {"ends at once", "hello\r\nworld\r\n", "", 7, Lines({"hello", "world"}), {}},
        {"standard error only", "", "only\r\nhere", 3, {}, Lines({"only", "here"})},
        {"a zero byte", QByteArray("x\r\r\ny\0z\r\n", 9), QByteArray("e1\0e2", 5), 0,
         Lines({"x", "", "y"}), Lines({"e1"})},
        {"a status beyond a byte", "", "", 0x12345, {}, {}},
    };
    for (const Case &c : cases) {
        ByteLines out = Lines({"old"}), err = Lines({"old"});
        std::uint32_t exitCode = 99;
        const QByteArray line = ChildPath() + " emit " + Hex(c.out) + " " + Hex(c.err) + " " +
                                QByteArray::number(c.status);
        EXPECT_EQ(RunAndCapture(line, 30, out, err, exitCode), 0) << c.what;
        EXPECT_EQ(exitCode, static_cast<std::uint32_t>(c.status)) << c.what;
        EXPECT_EQ(out, c.outLines) << c.what;
        EXPECT_EQ(err, c.errLines) << c.what;
    }
}

TEST(RunnerWin, OutputLargerThanAPipeIsCapturedWhole)
{
    ByteLines out, err;
    std::uint32_t exitCode = 1;
    ASSERT_EQ(RunAndCapture(ChildPath() + " emit " + Hex("0123456789\r\n") + " \"\" 0 100000", 30,
                            out, err, exitCode),
              0);
    EXPECT_EQ(exitCode, 0u);
    ASSERT_EQ(out.size(), 100000);
    EXPECT_EQ(out.front(), "0123456789");
    EXPECT_EQ(out.back(), "0123456789");
}

// A child given up on is asked to stop through its stop event and may take its time to clean
// up, its output still read; one that does not watch the event is ended once the grace is over.
TEST(RunnerWin, AChildGivenUpOnIsAskedToStopFirst)
{
    struct Case {
        const char *mode;
        bool askToStop; // else the time-out of 2 s
        std::int32_t result;
        ByteLines out;
    };
    const Case cases[] = {
        {"trap", false, kRunTimedOut, Lines({"started", "stopping", "stopped"})},
        {"trap", true, kRunStopped, Lines({"started", "stopping", "stopped"})},
        {"ignore", true, kRunStopped, Lines({"started"})},
        {"ignore", false, kRunTimedOut, Lines({"started"})},
    };
    for (const Case &c : cases) {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        const QByteArray ready = QByteArray(temp) + "tollmark_ready_" +
                                 QByteArray::number(static_cast<qulonglong>(::GetCurrentProcessId()));
        ::DeleteFileA(ready.constData());
        const StopCheck stop = [&] {
            return c.askToStop && ::GetFileAttributesA(ready.constData()) != INVALID_FILE_ATTRIBUTES;
        };
        ByteLines out, err;
        std::uint32_t exitCode = 0;
        const DWORD started = ::GetTickCount();
        EXPECT_EQ(RunAndCapture(ChildPath() + " hang started " + c.mode + " " + ready,
                                c.askToStop ? 30 : 2, out, err, exitCode, TRunControl{stop, {}, {}}),
                  c.result)
            << c.mode;
        const DWORD ms = ::GetTickCount() - started;
        ::DeleteFileA(ready.constData());
        EXPECT_EQ(exitCode, 1u) << c.mode;
        EXPECT_EQ(out, c.out) << c.mode;
        // The time-out counts polls: at least the nominal time, then the grace.
        if (std::string(c.mode) == "ignore") {
            EXPECT_GE(ms, static_cast<DWORD>(kStopGraceMs + (c.askToStop ? 0 : 2000))) << c.mode;
        }
        EXPECT_LT(ms, 30000u) << c.mode;
    }
}

TEST(RunnerWin, MissingProgramLeavesListsAndExitCodeAlone)
{
    ByteLines out = Lines({"keep"}), err = Lines({"keep too"});
    std::uint32_t exitCode = 4242;
    QByteArray missing = ChildPath();
    missing.replace("tollmark_runner_child.exe", "no_such_program.exe");
    EXPECT_EQ(RunAndCapture(missing + " /dir", 30, out, err, exitCode), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(out, Lines({"keep"}));
    EXPECT_EQ(err, Lines({"keep too"}));
    EXPECT_EQ(exitCode, 4242u);
    const QString text = SystemErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(text.endsWith('.') || text.endsWith('\n'));
}

// The command line reaches the child byte for byte, the child's own start-up code splits it as
// SplitCommandLine does, and the child has the one-variable environment (two with the request
// for progress reports), no standard input of
// the front end's and no visible console. A program path with a blank comes quoted, as the
// wrapper writes it: the child in the folder "tollmark child", beside a decoy "tollmark.exe" that
// the system would start for the unquoted path.
TEST(RunnerWin, ChildGetsTheCommandLineAsItIs)
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const QByteArray folder = QByteArray(temp) + "tollmark child";
    const QByteArray moved = folder + "\\tollmark_runner_child.exe";
    const QByteArray decoy = QByteArray(temp) + "tollmark.exe";
    ::CreateDirectoryA(folder.constData(), nullptr);
    ASSERT_TRUE(::CopyFileA(ChildPath().constData(), moved.constData(), FALSE));
    ASSERT_TRUE(::CopyFileA(ChildPath().constData(), decoy.constData(), FALSE));

    // The second run also asks for progress reports, as a copy does: one entry more.
    for (const QByteArray &program : {ChildPath(), '"' + moved + '"'}) {
        const bool reports = program != ChildPath();
        TRunControl control;
        if (reports)
            control.Environment = {"CABRIX_PROGRESS=1"};
        const QByteArray line = program +
                                " probe /TCP127.0.0.1 /FLDR\"C:\\My Data\\\\\" /get \"a b.txt\" "
                                "x\\\\\\\"y \\\\server\\share \"\" tail\\";
        ::SetEnvironmentVariableA("TOLLMARK_PARENT_ONLY", "1");
        ByteLines out, err;
        std::uint32_t exitCode = 1;
        ASSERT_EQ(RunAndCapture(line, 30, out, err, exitCode, control), 0) << program.toStdString();
        ::SetEnvironmentVariableA("TOLLMARK_PARENT_ONLY", nullptr);
        EXPECT_EQ(exitCode, 0u) << program.toStdString();
        EXPECT_TRUE(err.isEmpty());

        const std::vector<QByteArray> split = SplitCommandLine(line);
        ASSERT_EQ(split.size(), 10u);
        EXPECT_EQ(split[3], "/FLDRC:\\My Data\\");
        EXPECT_EQ(split[6], "x\\\"y");
        EXPECT_EQ(split[8], "");
        ByteLines args{line};
        for (size_t i = 2; i < split.size(); ++i)
            args.append(split[i]);
        args.append("--env--");
        ASSERT_GE(out.size(), args.size() + 2);
        EXPECT_EQ(out.mid(0, args.size()), args) << program.toStdString();

        // The environment block. Wine adds variables of its own to every process (WINE..., and
        // SystemDrive) and writes SystemRoot's drive letter in capitals; nothing comes from here.
        ByteLines env = out.mid(args.size(), out.size() - args.size() - 2);
        env.removeIf([](const QByteArray &e) {
            return e.startsWith("WINE") || e.startsWith("SystemDrive=");
        });
        ASSERT_EQ(env.size(), reports ? 2 : 1) << env.join(' ').toStdString();
        EXPECT_TRUE(std::any_of(env.begin(), env.end(), [](const QByteArray &e) {
            return e.toLower() == "systemroot=c:\\windows";
        })) << env.join(' ').toStdString();
        if (reports)
            EXPECT_TRUE(env.contains("CABRIX_PROGRESS=1")) << env.join(' ').toStdString();
        // A null standard input: none on Windows; under Wine the input of the child's new, hidden
        // console stands in (a character device whose reads fail at once), never a pipe or a file.
        EXPECT_TRUE(out[out.size() - 2] == "stdin:none" || out[out.size() - 2] == "stdin:console")
            << out[out.size() - 2].toStdString();
        EXPECT_EQ(out.back(), "console:hidden");
    }
    ::DeleteFileA(moved.constData());
    ::DeleteFileA(decoy.constData());
    ::RemoveDirectoryA(folder.constData());
}

TEST(DosDevicesWin, ListsTheRegisteredPort)
{
    const char *port = std::getenv("CABRIX_WINE_COM_LISTED");
    if (port == nullptr)
        GTEST_SKIP() << "no COM port registered in the prefix";
    const QByteArray names = QueryDosDeviceNames();
    ASSERT_TRUE(names.endsWith(QByteArray(2, '\0')));
    const QList<QByteArray> tokens = names.left(names.size() - 2).split('\0');
    EXPECT_TRUE(tokens.contains(QByteArray("COM") + port)) << names.toStdString();
    EXPECT_FALSE(tokens.contains(QByteArray()));
}

TEST(DrivesWin, DriveLettersAndTheirSpace)
{
    const QList<TDrive> drives = ListDrives();
    bool haveC = false;
    for (const TDrive &d : drives) {
        if (d.Root == QLatin1String("C:\\")) {
            haveC = true;
            EXPECT_EQ(d.Caption, QLatin1String("c:"));
        }
    }
    EXPECT_TRUE(haveC);

    std::int64_t freeBytes = 0, totalBytes = 0;
    ASSERT_TRUE(QueryDriveSpace(QStringLiteral("C:\\"), freeBytes, totalBytes));
    EXPECT_GT(totalBytes, 0);
    EXPECT_GE(freeBytes, 0);
    EXPECT_LE(freeBytes, totalBytes);
    if (const char *expected = std::getenv("CABRIX_WINE_C_TOTAL_BYTES")) {
        const double ratio = static_cast<double>(totalBytes) / std::atof(expected);
        EXPECT_NEAR(ratio, 1.0, 0.01) << totalBytes << " against " << expected;
    }

    // A letter that names no drive.
    char missing = 0;
    for (char letter = 'Q'; letter >= 'D' && missing == 0; --letter) {
        if ((::GetLogicalDrives() & (1u << (letter - 'A'))) == 0)
            missing = letter;
    }
    ASSERT_NE(missing, 0);
    EXPECT_FALSE(QueryDriveSpace(QString(QLatin1Char(missing)) + QStringLiteral(":\\"), freeBytes,
                                 totalBytes));
}

} // namespace
