// The tool wrapper: link switch, command lines byte for byte, status-to-message mapping, listing
// and information parsing, and the names that the controller lists.
#include "cabrix.h"
#include "plc_names.h"

#include "qt_env.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

namespace {

ByteLines Lines(std::initializer_list<const char *> items)
{
    ByteLines lines;
    for (const char *s : items)
        lines.append(QByteArray(s));
    return lines;
}

// Replaces the runner: records every call and answers with a given outcome.
struct FakeRunner {
    struct Call {
        QByteArray cmdLine;
        std::uint32_t timeoutSec;
    };
    std::vector<Call> calls;
    std::int32_t result = 0;
    std::uint32_t exitCode = 0;
    ByteLines out;
    ByteLines err;

    void Install(TCabrix &plc)
    {
        plc.Runner = [this](const QByteArray &cmd, std::uint32_t timeout, ByteLines &o, ByteLines &e,
                            std::uint32_t &code, const StopCheck &) {
            calls.push_back({cmd, timeout});
            o = out;
            e = err;
            if (result <= 0)
                code = exitCode;
            return result;
        };
    }
};

class TCabrixTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        plc.ExePath = QStringLiteral("/opt/tm/cabrix");
        plc.OldExePath = QStringLiteral("/opt/tm/cabrix_old");
        runner.Install(plc);
    }
    TCabrix plc{nullptr};
    FakeRunner runner;
};

TEST_F(TCabrixTest, StartsOnTcpWithTheInitialAddressAndToolsInTheOwnFolder)
{
    TCabrix fresh(nullptr);
    EXPECT_EQ(fresh.IP, "192.169..");
    EXPECT_EQ(fresh.Port, "COM2");
    EXPECT_EQ(fresh.LinkKind, 0);
    EXPECT_EQ(fresh.LinkArg, " /TCP192.169..");
    EXPECT_TRUE(fresh.LastError.isEmpty());
    const QString folder = QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath();
    EXPECT_EQ(fresh.ExePath, folder + "/cabrix");
    EXPECT_EQ(fresh.OldExePath, folder + "/cabrix_old");
}

TEST_F(TCabrixTest, LinkArgFollowsEverySetter)
{
    plc.SetIP("10.0.6.10");
    EXPECT_EQ(plc.LinkArg, " /TCP10.0.6.10");
    plc.SetLinkKind(1);
    EXPECT_EQ(plc.LinkArg, " /COM2");
    plc.SetPort("COM3");
    EXPECT_EQ(plc.LinkArg, " /COM3");
    plc.SetPort("");
    EXPECT_EQ(plc.LinkArg, " /");
    plc.SetLinkKind(7); // no such kind: the switch stays
    EXPECT_EQ(plc.LinkArg, " /");
    plc.SetLinkKind(0);
    EXPECT_EQ(plc.LinkArg, " /TCP10.0.6.10");
}

TEST_F(TCabrixTest, CommandLinesOverTcpByteForByte)
{
    plc.SetIP("10.0.6.10");
    EXPECT_TRUE(plc.GetFile("/data/prog.txt"));
    EXPECT_TRUE(plc.PutFile("/data/my files/prog 2.txt"));
    EXPECT_TRUE(plc.DelFile("prog.txt"));
    QStringList list;
    EXPECT_TRUE(plc.GetDir(list, 1));
    EXPECT_TRUE(plc.GetInfo(list));
    ASSERT_EQ(runner.calls.size(), 5u);
    EXPECT_EQ(runner.calls[0].cmdLine, "/opt/tm/cabrix /TCP10.0.6.10 /FLDR\"/data\" /get \"prog.txt\"");
    EXPECT_EQ(runner.calls[0].timeoutSec, 120u);
    EXPECT_EQ(runner.calls[1].cmdLine,
              "/opt/tm/cabrix_old /TCP10.0.6.10 /FLDR\"/data/my files\" /up \"prog 2.txt\"");
    EXPECT_EQ(runner.calls[1].timeoutSec, 120u);
    EXPECT_EQ(runner.calls[2].cmdLine, "/opt/tm/cabrix /TCP10.0.6.10 /del \"prog.txt\"");
    EXPECT_EQ(runner.calls[2].timeoutSec, 60u);
    EXPECT_EQ(runner.calls[3].cmdLine, "/opt/tm/cabrix /TCP10.0.6.10 /dir");
    EXPECT_EQ(runner.calls[3].timeoutSec, 30u);
    EXPECT_EQ(runner.calls[4].cmdLine, "/opt/tm/cabrix /TCP10.0.6.10 /info");
    EXPECT_EQ(runner.calls[4].timeoutSec, 30u);
}

TEST_F(TCabrixTest, CommandLinesOverComByteForByte)
{
    plc.SetLinkKind(1);
    plc.SetPort("COM1");
    plc.GetFile("/data/prog.txt");
    plc.PutFile("/data/prog.txt");
    plc.DelFile("prog.txt");
    QStringList list;
    plc.GetDir(list, 1);
    plc.GetInfo(list);
    ASSERT_EQ(runner.calls.size(), 5u);
    EXPECT_EQ(runner.calls[0].cmdLine, "/opt/tm/cabrix /COM1 /FLDR\"/data\" /get \"prog.txt\"");
    EXPECT_EQ(runner.calls[1].cmdLine, "/opt/tm/cabrix_old /COM1 /FLDR\"/data\" /up \"prog.txt\"");
    EXPECT_EQ(runner.calls[2].cmdLine, "/opt/tm/cabrix /COM1 /del \"prog.txt\"");
    EXPECT_EQ(runner.calls[3].cmdLine, "/opt/tm/cabrix /COM1 /dir");
    EXPECT_EQ(runner.calls[4].cmdLine, "/opt/tm/cabrix /COM1 /info");
}

TEST_F(TCabrixTest, SplitFileArgCases)
{
    struct Case {
        QString path, folderArg, name;
    };
    const Case cases[] = {
        {"C:\\Data\\prog.txt", " /FLDR\"C:\\Data\"", "prog.txt"},
        // A root folder: the folder arrives as C:\ (its backslash doubled before the quote).
        {"C:\\\\prog.txt", " /FLDR\"C:\\\\\"", "prog.txt"},
        {"C:\\prog.txt", " /FLDR\"C:\"", "prog.txt"},
        {"C:prog.txt", " /FLDR\"C\"", "prog.txt"}, // the colon is dropped as the separator
        {"prog.txt", " /FLDR\"\"", "prog.txt"},
        {"/tmp/x/prog.txt", " /FLDR\"/tmp/x\"", "prog.txt"},
        {"//prog.txt", " /FLDR\"/\"", "prog.txt"},
        {"/prog.txt", " /FLDR\"/\"", "prog.txt"},
    };
    for (const Case &c : cases) {
        QString folderArg, name;
        plc.SplitFileArg(c.path, folderArg, name);
        EXPECT_EQ(folderArg, c.folderArg) << c.path.toStdString();
        EXPECT_EQ(name, c.name) << c.path.toStdString();
    }
    // What the tool receives for the root folder.
    const auto args = SplitCommandLine(plc.GetFileCmdLine("C:\\\\prog.txt"));
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[2], "/FLDRC:\\");
    EXPECT_EQ(args[3], "/get");
    EXPECT_EQ(args[4], "prog.txt");
}

TEST_F(TCabrixTest, ExitStatusesAndRunOutcomesBecomeMessages)
{
    struct Case {
        std::int32_t result;
        std::uint32_t exitCode;
        QString message;
    };
    const Case cases[] = {
        {0, 0, ""},
        {0, 100, "Произошла ошибка связи с ПЛК!"},
        {0, 112, "Невозможно удалить файл на ПЛК!"},
        {0, 131, "Произошли множественные ошибки при записи файлов на ПЛК!"},
        {0, 201, "Внутренняя ошибка приложения!"},
        {0, 7, "Неизвестная ошибка!"},
        {0, 1, "Неизвестная ошибка!"},
        {-1, 0, "Превышен интервал ожидания!"},
        {-1, 131, "Превышен интервал ожидания!"},
        {ENOENT, 0, SystemErrorText(ENOENT)},
    };
    for (const Case &c : cases) {
        runner.result = c.result;
        runner.exitCode = c.exitCode;
        runner.out = Lines({"printed"});
        EXPECT_EQ(plc.DelFile("x"), c.message.isEmpty()) << c.exitCode;
        EXPECT_EQ(plc.LastError, c.message) << c.exitCode;
    }
    EXPECT_FALSE(SystemErrorText(ENOENT).isEmpty());
}

TEST_F(TCabrixTest, RunIsFramedByTheTwoEventsWithListsClearedAndMessageSet)
{
    std::vector<QString> seen;
    plc.OutLines = Lines({"stale"});
    plc.OnBeforeRun = [&](QObject *sender) {
        EXPECT_EQ(sender, &plc);
        seen.push_back("before " + QString::number(plc.OutLines.size()));
    };
    plc.OnAfterRun = [&](QObject *sender) {
        EXPECT_EQ(sender, &plc);
        seen.push_back("after " + plc.LastError);
    };
    plc.Runner = [&](const QByteArray &, std::uint32_t, ByteLines &o, ByteLines &, std::uint32_t &code,
                     const StopCheck &) {
        EXPECT_TRUE(o.isEmpty());
        seen.push_back("run");
        code = 100;
        return 0;
    };
    EXPECT_FALSE(plc.Execute("x", 30));
    EXPECT_EQ(seen, (std::vector<QString>{"before 1", "run", "after Произошла ошибка связи с ПЛК!"}));
}

TEST_F(TCabrixTest, ListingKeepsEvenLinesAndSortsIgnoringCase)
{
    QStringList dest{"old"};
    runner.out = Lines({"a", "", "b", "", "c", ""});
    EXPECT_TRUE(plc.GetDir(dest, 1));
    EXPECT_EQ(dest, (QStringList{"a", "b", "c"}));

    runner.out = Lines({"B", "x", "a", "y"});
    plc.GetDir(dest, 1);
    EXPECT_EQ(dest, (QStringList{"a", "B"}));
    plc.GetDir(dest, 2);
    EXPECT_EQ(dest, (QStringList{"B", "a"}));
    plc.GetDir(dest, 0);
    EXPECT_EQ(dest, (QStringList{"B", "a"}));
    EXPECT_EQ(plc.ErrLines, Lines({"B", "a"}));

    // A failed listing still shows what the tool wrote.
    runner.exitCode = 100;
    runner.out = Lines({"Ошибка"});
    EXPECT_FALSE(plc.GetDir(dest, 1));
    EXPECT_EQ(dest.size(), 1);
    EXPECT_EQ(plc.LastError, "Произошла ошибка связи с ПЛК!");
}

TEST_F(TCabrixTest, InformationKeepsEvenLinesUnsorted)
{
    QStringList dest;
    runner.out = Lines({"zeta", "", "alpha", "", "mid"});
    EXPECT_TRUE(plc.GetInfo(dest));
    EXPECT_EQ(dest, (QStringList{"zeta", "alpha", "mid"}));
}

TEST_F(TCabrixTest, CyrillicNamesAreShownDecodedAndSentBackAsTheControllerHasThem)
{
    // The controller's "Прог.txt" in 1251 is CF F0 EE E3; the tool prints it in 866: 8F E0 AE A3.
    runner.out = {QByteArray("\x8F\xE0\xAE\xA3.txt"), QByteArray(), QByteArray("\xFC" "1"),
                  QByteArray()};
    QStringList dest;
    ASSERT_TRUE(plc.GetDir(dest, 0));
    ASSERT_EQ(dest, (QStringList{"Прог.txt", "№1"}));
    plc.DelFile(dest[0]);
    plc.GetFile("/data/" + dest[1]);
    ASSERT_EQ(runner.calls.size(), 3u);
    EXPECT_EQ(runner.calls[1].cmdLine, "/opt/tm/cabrix /TCP192.169.. /del \"\xCF\xF0\xEE\xE3.txt\"");
    EXPECT_EQ(runner.calls[2].cmdLine,
              "/opt/tm/cabrix /TCP192.169.. /FLDR\"/data\" /get \"\xB9"
              "1\"");
}

TEST_F(TCabrixTest, UnsafeControllerNamesAreRefusedWithoutRunning)
{
    bool fired = false;
    plc.OnBeforeRun = [&](QObject *) { fired = true; };
    for (const QString name : {"", ".", "..", "../x", "a/b", "a\\b", "C:x", "a\"b", "a\tb",
                               "a\rb", "a\x7f"}) {
        plc.LastError.clear();
        EXPECT_FALSE(plc.DelFile(name)) << name.toStdString();
        EXPECT_TRUE(plc.LastError.startsWith("Недопустимое имя файла")) << name.toStdString();
    }
    EXPECT_FALSE(plc.GetFile("/data/.."));
    EXPECT_TRUE(plc.LastError.contains("\"..\""));
    EXPECT_FALSE(plc.GetFile("/data/"));
    // A PC path with a quote would end the quoted stretch on the command line.
    EXPECT_FALSE(plc.PutFile("/data/a\" /del \"b.txt"));
    EXPECT_FALSE(plc.GetFile("/da\"ta/b.txt"));
    // On POSIX a colon in the name would split it into folder and name, and a backslash is a
    // folder separator to the tool: either would send or replace another file than the one asked.
    EXPECT_FALSE(plc.PutFile("/data/prog:v2.txt"));
    EXPECT_FALSE(plc.PutFile("/data/sub\\prog.txt"));
    EXPECT_FALSE(plc.GetFile("/da\\ta/b.txt"));
    EXPECT_TRUE(runner.calls.empty());
    EXPECT_FALSE(fired);
}

TEST(PlcNames, ConsoleCodePageRoundTripsAndUndoesTheToolsConversion)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    EXPECT_EQ(plc_names::ToConsole(plc_names::FromConsole(all)), all);
    EXPECT_EQ(plc_names::FromConsole("\x80\xAF\xE0\xEF\xF0\xFC"), "АпряЁ№");

    // The tool's own conversion, 1251 to 866.
    auto toolConversion = [](unsigned char b) -> unsigned char {
        if (b >= 0xF0)
            return b - 0x10;
        if (b >= 0xC0)
            return b - 0x40;
        if (b == 0xB9)
            return 0xFC;
        return b;
    };
    for (int b = 0; b < 256; ++b) {
        const bool converted = b >= 0xC0 || b == 0xB9 || b < 0x80;
        if (!converted)
            continue;
        const QByteArray printed(1, static_cast<char>(toolConversion(static_cast<unsigned char>(b))));
        EXPECT_EQ(plc_names::ConsoleToController(printed), QByteArray(1, static_cast<char>(b))) << b;
    }
    EXPECT_EQ(plc_names::ConsoleToController("\xB0\xDF\xF0\xFF"), "\xB0\xDF\xF0\xFF");
    EXPECT_EQ(plc_names::ToConsole("a€b"), "a?b");
}

TEST(TCabrixRun, ToolReceivesTheArgumentsAndAMissingToolIsReported)
{
    TestApp();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QFile::link(FAKE_PROBE, folder.filePath("cabrix")));
    SetToolFolderOverride(folder.path());
    {
        TCabrix plc(nullptr);
        plc.SetIP("127.0.0.1");
        ASSERT_TRUE(plc.GetFile("/tmp/x y/prog 1.txt")) << plc.LastError.toStdString();
        ASSERT_GE(plc.OutLines.size(), 4);
        EXPECT_EQ(plc.OutLines.mid(0, 4), Lines({"/TCP127.0.0.1", "/FLDR/tmp/x y", "/get", "prog 1.txt"}));

        EXPECT_FALSE(plc.PutFile("/tmp/prog.txt")); // no cabrix_old in the folder
        EXPECT_EQ(plc.LastError, SystemErrorText(ENOENT));
    }
    SetToolFolderOverride(QString());
}

} // namespace
