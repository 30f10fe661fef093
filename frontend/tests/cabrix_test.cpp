// The tool wrapper: link switch, command lines byte for byte, status-to-message mapping, listing
// and information parsing, and the names that the controller lists.
#include "cabrix.h"
#include "plc_names.h"

#include "qt_env.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSet>
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
        QList<QByteArray> environment = {};
        std::vector<bool> headway = {}; // what the watch said of each line of err
    };
    std::vector<Call> calls;
    std::int32_t result = 0;
    std::uint32_t exitCode = 0;
    ByteLines out;
    ByteLines err;

    void Install(TCabrix &plc)
    {
        plc.Runner = [this](const QByteArray &cmd, std::uint32_t timeout, ByteLines &o, ByteLines &e,
                            std::uint32_t &code, const TRunControl &control) {
            calls.push_back({cmd, timeout, control.Environment});
            if (control.ErrLine) {
                for (const QByteArray &line : std::as_const(err))
                    calls.back().headway.push_back(control.ErrLine(line));
            }
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
    EXPECT_TRUE(plc.GetFile("/data/prog.txt", "prog.txt"));
    EXPECT_TRUE(plc.PutFile("/data/my files/prog 2.txt"));
    EXPECT_TRUE(plc.DelFile("prog.txt"));
    TPlcNames names;
    EXPECT_TRUE(plc.GetDir(names, 1));
    QStringList list;
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

    // A program path with a blank or a tab is quoted, or it would split into several words.
    plc.ExePath = QStringLiteral("C:\\Program Files\\Tollmark\\cabrix.exe");
    plc.OldExePath = QStringLiteral("/opt/t\tm/cabrix_old");
    plc.GetDir(names, 1);
    plc.PutFile("/data/prog.txt");
    ASSERT_EQ(runner.calls.size(), 7u);
    EXPECT_EQ(runner.calls[5].cmdLine,
              "\"C:\\Program Files\\Tollmark\\cabrix.exe\" /TCP10.0.6.10 /dir");
    EXPECT_EQ(runner.calls[6].cmdLine,
              "\"/opt/t\tm/cabrix_old\" /TCP10.0.6.10 /FLDR\"/data\" /up \"prog.txt\"");
}

TEST_F(TCabrixTest, CommandLinesOverComByteForByte)
{
    plc.SetLinkKind(1);
    plc.SetPort("COM1");
    plc.GetFile("/data/prog.txt", "prog.txt");
    plc.PutFile("/data/prog.txt");
    plc.DelFile("prog.txt");
    TPlcNames names;
    plc.GetDir(names, 1);
    QStringList list;
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
    const auto args = SplitCommandLine(plc.GetFileCmdLine("C:\\\\prog.txt", "prog.txt"));
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[2], "/FLDRC:\\");
    EXPECT_EQ(args[3], "/get");
    EXPECT_EQ(args[4], "prog.txt");
}

// Several files go in one run; copies and deletes ask for progress reports, hand each one on and
// count it as headway; listings and queries do not ask.
TEST_F(TCabrixTest, SeveralFilesInOneRunWithProgressReportsForCopiesAndDeletes)
{
    plc.SetIP("10.0.6.10");
    plc.Timeouts = {7, 8, 9};
    std::vector<TProgressReport> reports;
    plc.OnProgress = [&](const TProgressReport &r) { reports.push_back(r); };
    runner.err = Lines({"cabrix-progress: start 1 2 -", "\x8F\xAE\xE0\xE2 \xA7\xA0\xAD\xEF\xE2!",
                        "cabrix-progress: bytes 1 128 1"});
    EXPECT_TRUE(plc.GetFiles({"/data/a.txt", "/data/b c.txt"}, {"a.txt", "b c.txt"}));
    EXPECT_TRUE(plc.PutFiles({"/data/a.txt", "/data/b c.txt"}));
    EXPECT_TRUE(plc.DelFiles({"a.txt", "b c.txt"}));
    TPlcNames names;
    plc.GetDir(names, 1);
    QStringList info;
    plc.GetInfo(info);
    ASSERT_EQ(runner.calls.size(), 5u);
    EXPECT_EQ(runner.calls[0].cmdLine, "/opt/tm/cabrix /TCP10.0.6.10 /FLDR\"/data\" /get \"a.txt\" \"b c.txt\"");
    EXPECT_EQ(runner.calls[1].cmdLine, "/opt/tm/cabrix_old /TCP10.0.6.10 /FLDR\"/data\" /up \"a.txt\" \"b c.txt\"");
    EXPECT_EQ(runner.calls[2].cmdLine, "/opt/tm/cabrix /TCP10.0.6.10 /del \"a.txt\" \"b c.txt\"");
    const std::uint32_t timeouts[] = {7, 7, 8, 9, 9};
    const QList<QByteArray> asked{"CABRIX_PROGRESS=1"};
    for (size_t i = 0; i < 5; ++i) {
        const bool asks = i < 3;
        EXPECT_EQ(runner.calls[i].timeoutSec, timeouts[i]) << i;
        EXPECT_EQ(runner.calls[i].environment, asks ? asked : QList<QByteArray>()) << i;
        EXPECT_EQ(runner.calls[i].headway, asks ? (std::vector<bool>{true, false, true}) : std::vector<bool>()) << i;
    }
    ASSERT_EQ(reports.size(), 6u);
    EXPECT_EQ(reports[1].Kind, TProgressReport::Bytes);
    EXPECT_EQ(reports[1].Done, 128);
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
        {kRunStopped, 0, "Операция прервана!"},
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
                     const TRunControl &) {
        EXPECT_TRUE(o.isEmpty());
        seen.push_back("run");
        code = 100;
        return 0;
    };
    EXPECT_FALSE(plc.Execute("x", 30));
    EXPECT_EQ(seen, (std::vector<QString>{"before 1", "run", "after Произошла ошибка связи с ПЛК!"}));
}

QStringList Texts(const TPlcNames &names)
{
    QStringList texts;
    for (const TPlcName &n : names)
        texts.append(n.Text);
    return texts;
}

// Every line of the console program's listing is one name; an empty line is none.
TEST_F(TCabrixTest, ListingTakesEveryLineAndSortsIgnoringCase)
{
    TPlcNames dest{{"old", "old"}};
    runner.out = Lines({"a", "", "b", "c"});
    EXPECT_TRUE(plc.GetDir(dest, 1));
    EXPECT_EQ(Texts(dest), (QStringList{"a", "b", "c"}));

    runner.out = Lines({"B", "x", "a"});
    plc.GetDir(dest, 1);
    EXPECT_EQ(Texts(dest), (QStringList{"a", "B", "x"}));
    plc.GetDir(dest, 2);
    EXPECT_EQ(Texts(dest), (QStringList{"x", "B", "a"}));
    plc.GetDir(dest, 0);
    EXPECT_EQ(Texts(dest), (QStringList{"B", "x", "a"}));
    EXPECT_EQ(plc.ErrLines, Lines({"B", "x", "a"}));

    // A failed listing still shows what the program wrote.
    runner.exitCode = 100;
    runner.out = Lines({"left"});
    EXPECT_FALSE(plc.GetDir(dest, 1));
    EXPECT_EQ(Texts(dest), QStringList{"left"});
    EXPECT_EQ(plc.LastError, "Произошла ошибка связи с ПЛК!");
}

TEST_F(TCabrixTest, InformationTakesEveryLineUnsortedDecoded)
{
    QStringList dest;
    runner.out = {"zeta", "", QByteArray("\xCC\xEE\xE4\xE5\xEB\xFC 7")};
    EXPECT_TRUE(plc.GetInfo(dest));
    EXPECT_EQ(dest, (QStringList{"zeta", "", "Модель 7"}));
}

// Ёлка.txt (A8 EB EA E0) and илка.txt (E8 EB EA E0) look alike once printed for a console; the
// window shows each decoded and sends back exactly the bytes listed.
TEST_F(TCabrixTest, ListedNamesAreShownDecodedAndSentBackByteForByte)
{
    const QByteArray yolka("\xA8\xEB\xEA\xE0.txt"), ilka("\xE8\xEB\xEA\xE0.txt");
    runner.out = {ilka, yolka, QByteArray("\xB9" "1")};
    TPlcNames dest;
    ASSERT_TRUE(plc.GetDir(dest, 0));
    ASSERT_EQ(Texts(dest), (QStringList{"илка.txt", "Ёлка.txt", "№1"}));
    EXPECT_EQ(dest[1].Bytes, yolka);
    plc.DelFile(dest[1].Bytes);
    plc.GetFile("/data/" + dest[0].Text, dest[0].Bytes);
    ASSERT_EQ(runner.calls.size(), 3u);
    EXPECT_EQ(runner.calls[1].cmdLine, "/opt/tm/cabrix /TCP192.169.. /del \"" + yolka + '"');
    EXPECT_EQ(runner.calls[2].cmdLine, "/opt/tm/cabrix /TCP192.169.. /FLDR\"/data\" /get \"" + ilka + '"');
}

TEST(PlcNames, Windows1251RoundTripsAndRefusesWhatItLacks)
{
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = plc_names::FromController(all);
    EXPECT_EQ(QSet<QChar>(text.begin(), text.end()).size(), 255); // no two bytes look alike
    QByteArray back;
    ASSERT_TRUE(plc_names::ToController(text, back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(plc_names::FromController("\x80\x96\xA8\xB9\xC0\xFF"), "Ђ–Ё№Ая");

    QString error;
    QByteArray bytes;
    EXPECT_TRUE(plc_names::ControllerForm("Программа_ПК.prg", bytes, error));
    EXPECT_EQ(bytes, "\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE0_\xCF\xCA.prg");
    for (const QString name : {"ü.txt", "日本.txt", "a\U0001F600.txt"}) {
        EXPECT_FALSE(plc_names::ControllerForm(name, bytes, error)) << name.toStdString();
        EXPECT_TRUE(error.contains(name)) << error.toStdString();
    }
}

TEST(TCabrixRun, ToolReceivesTheArgumentsAndAMissingToolIsReported)
{
    TestApp();
    // The program's folder has a blank, as "C:\Program Files" has.
    QTemporaryDir folder(QDir::tempPath() + "/tool folder-XXXXXX");
    ASSERT_TRUE(folder.isValid());
    ASSERT_TRUE(QFile::link(FAKE_PROBE, folder.filePath("cabrix")));
    SetToolFolderOverride(folder.path());
    {
        TCabrix plc(nullptr);
        plc.SetIP("127.0.0.1");
        ASSERT_TRUE(plc.GetFile("/tmp/x y/prog 1.txt", "prog 1.txt")) << plc.LastError.toStdString();
        ASSERT_GE(plc.OutLines.size(), 4);
        EXPECT_EQ(plc.OutLines.mid(0, 4), Lines({"/TCP127.0.0.1", "/FLDR/tmp/x y", "/get", "prog 1.txt"}));

        EXPECT_FALSE(plc.PutFile("/tmp/prog.txt")); // no cabrix_old in the folder
        EXPECT_EQ(plc.LastError, SystemErrorText(ENOENT));
    }
    SetToolFolderOverride(QString());
}

} // namespace
