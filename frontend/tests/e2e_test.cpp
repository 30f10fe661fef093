// The real main window on the offscreen platform with the real console programs of the build's
// tollmark folder (the front-end dialect at "cabrix" and the console tool at "cabrix_old") against
// a real plcsim on the test's own loopback address. Message boxes and the PLC Info dialog are
// answered through the seam; the results are checked in the controller's store, the PC folder and
// the window's lists.
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "cabrix.h"
#include "file_browse.h"
#include "msgbox.h"

#include "qt_env.h"
#include "window_operator.h"

#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "support/test_address.h"
#include "support/tool_command.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFocusEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringDecoder>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <optional>

namespace {

namespace fs = std::filesystem;
using cabrix::test::PatternBytes;
using cabrix::test::ReadFileBytes;
using cabrix::test::SimOptions;
using cabrix::test::SimProcess;
using cabrix::test::TempDir;
using cabrix::test::WriteFileBytes;

QString Q(const fs::path &p) { return QString::fromStdString(p.string()); }

class FrontEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        const fs::path tools = cabrix::test::BuildDir() / "tollmark";
        ASSERT_TRUE(fs::exists(tools / "cabrix")) << tools;
        ASSERT_TRUE(fs::exists(tools / "cabrix_old")) << tools;
        SetToolFolderOverride(Q(tools));

        SimOptions o;
        o.tcp = cabrix::test::TestAddress();
        o.args = {"--idle-timeout", "5", "--info-line", "Модель 7", "--info-line", "Firmware 2.1"};
        sim.emplace(std::move(o));
        address = QString::fromStdString(sim->TcpAddress());
        savedXdg = qgetenv("XDG_CONFIG_HOME");

        pc = Q(fs::canonical(pcDir.Path()));
        savedCwd = QDir::currentPath();
        QDir::setCurrent(pc);
    }

    void TearDown() override
    {
        QDir::setCurrent(savedCwd);
        qputenv("XDG_CONFIG_HOME", savedXdg);
    }

    // Creates the three forms in the program's order; the first listing runs with the address
    // field's initial text, which names no controller. Then the operator enters the simulator's
    // address and presses Set.
    TForm1 &OpenAndSet()
    {
        Form1 = new TForm1;
        Form2 = new TForm2;
        Form3 = new TForm3;
        EXPECT_EQ(boxes, std::vector<Box>{Error("Неправильно заданы параметры командной строки!")});
        EXPECT_FALSE(Form1->PlcListValid());
        boxes.clear();
        Form1->Edit1->setText(address);
        Form1->Button5->click();
        EXPECT_TRUE(boxes.empty());
        EXPECT_TRUE(Form1->PlcListValid());
        return *Form1;
    }

    fs::path Store(const std::string &name) const { return sim->Store() / name; }
    fs::path Pc(const std::string &name) const { return pcDir.Path() / name; }

    std::optional<SimProcess> sim;
    QString address;
    TempDir pcDir{"tollmark-e2e-pc"};
    QString pc;
    QString savedCwd;
    QByteArray savedXdg;
    // Declared last, so the forms go before the folders they show.
    WindowOperator op;
    std::vector<Box> &boxes = op.boxes;
    std::deque<int> &answers = op.answers;
    std::vector<QString> &modalShown = op.modalShown;
};

TEST_F(FrontEndToEnd, SetListsTheControllerAndCopyToItAsksBeforeOverwriting)
{
    WriteFileBytes(Store("b.txt"), "old b");
    WriteFileBytes(Store("A.txt"), "a");
    const std::string fresh = PatternBytes(12000, 7);
    WriteFileBytes(Pc("new.bin"), fresh);
    WriteFileBytes(Pc("b.txt"), "new b");
    TForm1 &form = OpenAndSet();
    EXPECT_EQ(Items(form.ListBox1), (QStringList{"A.txt", "b.txt"}));
    EXPECT_EQ(Items(form.FileListBox1), (QStringList{"b.txt", "new.bin"}));

    // A name the controller does not have: one question, then the file is there and listed.
    Enter(form.FileListBox1);
    Select(form.FileListBox1, "new.bin");
    answers = {mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes, std::vector<Box>{Question("Копировать файла \"" + pc + "/new.bin\" в контроллер?")});
    EXPECT_EQ(ReadFileBytes(Store("new.bin")), fresh);
    EXPECT_EQ(Items(form.ListBox1), (QStringList{"A.txt", "b.txt", "new.bin"}));
    EXPECT_FALSE(Form3->isVisible());
    EXPECT_TRUE(form.isEnabled());

    // A listed name: No to the overwrite question leaves the controller's file alone.
    boxes.clear();
    Select(form.FileListBox1, "b.txt");
    answers = {mrYes, mrNo};
    form.Button2->click();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], QuestionDefaultNo("Файл \"b.txt\" уже есть в контроллере. Перезаписать его?"));
    EXPECT_EQ(ReadFileBytes(Store("b.txt")), "old b");

    // Yes to both replaces it.
    boxes.clear();
    Select(form.FileListBox1, "b.txt");
    answers = {mrYes, mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(ReadFileBytes(Store("b.txt")), "new b");
    EXPECT_EQ(Items(form.ListBox1), (QStringList{"A.txt", "b.txt", "new.bin"}));
}

TEST_F(FrontEndToEnd, CopyFromTheControllerAsksBeforeOverwritingAndShowsTheFile)
{
    const std::string bytes = PatternBytes(9000, 8);
    WriteFileBytes(Store("prog.bin"), bytes);
    WriteFileBytes(Store("other.txt"), "other");
    TForm1 &form = OpenAndSet();
    EXPECT_EQ(form.FileListBox1->count(), 0);

    Enter(form.ListBox1);
    Select(form.ListBox1, "prog.bin");
    answers = {mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes, std::vector<Box>{Question("Копировать файла \"prog.bin\" в папку \"" + pc + "\"?")});
    EXPECT_EQ(ReadFileBytes(Pc("prog.bin")), bytes);
    EXPECT_EQ(Items(form.FileListBox1), QStringList{"prog.bin"});
    EXPECT_TRUE(form.isEnabled());

    // The PC file now exists: Cancel to the overwrite question keeps the PC's version.
    WriteFileBytes(Pc("prog.bin"), "edited on the PC");
    boxes.clear();
    Select(form.ListBox1, "prog.bin");
    answers = {mrYes, mrCancel};
    form.Button2->click();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], QuestionDefaultNo("Файл \"" + pc + "/prog.bin\" уже существует. Перезаписать его?"));
    EXPECT_EQ(ReadFileBytes(Pc("prog.bin")), "edited on the PC");

    // Yes brings the controller's version back.
    boxes.clear();
    Select(form.ListBox1, "prog.bin");
    answers = {mrYes, mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(ReadFileBytes(Pc("prog.bin")), bytes);

    // A file that went from the controller since the listing: the tool's failure is shown.
    fs::remove(Store("other.txt"));
    boxes.clear();
    Select(form.ListBox1, "other.txt");
    answers = {mrYes};
    form.Button2->click();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], Error("Произошла единичная ошибка при чтении файла с ПЛК!"));
    EXPECT_FALSE(fs::exists(Pc("other.txt")));
    EXPECT_EQ(Items(form.FileListBox1), QStringList{"prog.bin"});
}

TEST_F(FrontEndToEnd, DeleteRemovesTheFileAndInfoShowsTheRecord)
{
    WriteFileBytes(Store("a.txt"), "a");
    WriteFileBytes(Store("b.txt"), "b");
    TForm1 &form = OpenAndSet();

    Enter(form.ListBox1);
    Select(form.ListBox1, "a.txt");
    answers = {mrYes};
    form.Button1->click();
    EXPECT_EQ(boxes, std::vector<Box>{QuestionDefaultNo("Удалить файла \"a.txt\"?")});
    EXPECT_FALSE(fs::exists(Store("a.txt")));
    EXPECT_TRUE(fs::exists(Store("b.txt")));
    EXPECT_EQ(Items(form.ListBox1), QStringList{"b.txt"});
    EXPECT_TRUE(form.isEnabled());

    boxes.clear();
    form.Button4->click();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(modalShown, std::vector<QString>{"Form2"});
    EXPECT_EQ(Items(Form2->ListBox1), (QStringList{"Модель 7", "Firmware 2.1"}));

    // The controller goes away: the next listing fails with the link error.
    sim->Stop();
    form.Button3->click();
    EXPECT_EQ(boxes, std::vector<Box>{Error("Произошла ошибка связи с ПЛК!")});
    EXPECT_FALSE(form.PlcListValid());
}

// From a POSIX PC, whose file names are UTF-8: every Windows-1251 byte from 0x80 up goes to the
// controller, is listed, comes back and is deleted under exactly its name; two names that differ
// only in a byte from 0x80 to 0xBF (Ёлка.txt, A8 EB EA E0, and илка.txt, E8 EB EA E0) stay two.
TEST_F(FrontEndToEnd, EveryWindows1251LetterRoundTripsAndLookAlikeNamesStayApart)
{
    const std::string yolka = "\xA8\xEB\xEA\xE0.txt", ilka = "\xE8\xEB\xEA\xE0.txt";
    WriteFileBytes(Store(yolka), "yolka");
    WriteFileBytes(Store(ilka), "ilka");
    QStringDecoder cp1251("windows-1251");
    ASSERT_TRUE(cp1251.isValid());
    std::vector<std::pair<std::string, QString>> names; // the controller's bytes, the PC's name
    for (int first = 0x80; first < 0x100; first += 0x20) {
        std::string bytes;
        for (int b = first; b < first + 0x20; ++b)
            bytes.push_back(static_cast<char>(b));
        bytes += ".txt";
        names.emplace_back(bytes, cp1251(QByteArray::fromStdString(bytes)));
    }
    TForm1 &form = OpenAndSet();
    EXPECT_EQ(form.ListBox1->count(), 2);
    EXPECT_EQ(form.ListBox1->findItems("Ёлка.txt", Qt::MatchExactly).size(), 1);

    Enter(form.FileListBox1);
    for (const auto &[bytes, pcName] : names) {
        WriteFileBytes(Pc(pcName.toStdString()), "up " + bytes);
        form.FileListBox1->Update();
        boxes.clear();
        Select(form.FileListBox1, pcName);
        answers = {mrYes};
        form.Button2->click();
        EXPECT_EQ(boxes.size(), 1u) << pcName.toStdString();
        EXPECT_EQ(ReadFileBytes(Store(bytes)), "up " + bytes);
        fs::remove(Pc(pcName.toStdString()));
    }
    EXPECT_EQ(form.ListBox1->count(), 6);

    Enter(form.ListBox1);
    for (const auto &[bytes, pcName] : names) {
        boxes.clear();
        Select(form.ListBox1, pcName);
        answers = {mrYes};
        form.Button2->click();
        EXPECT_EQ(ReadFileBytes(Pc(pcName.toStdString())), "up " + bytes);
        Select(form.ListBox1, pcName);
        answers = {mrYes};
        form.Button1->click();
        EXPECT_EQ(boxes.size(), 2u) << pcName.toStdString();
        EXPECT_FALSE(fs::exists(Store(bytes)));
    }

    boxes.clear();
    Select(form.ListBox1, "Ёлка.txt");
    answers = {mrYes};
    form.Button2->click();
    EXPECT_EQ(ReadFileBytes(Pc("Ёлка.txt")), "yolka");
    EXPECT_FALSE(fs::exists(Pc("илка.txt")));
    // Ёлка.txt stays selected after its copy; choosing илка.txt deletes that one alone.
    Select(form.ListBox1, "илка.txt");
    answers = {mrYes};
    form.Button1->click();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], QuestionDefaultNo("Удалить файла \"илка.txt\"?"));
    EXPECT_FALSE(fs::exists(Store(ilka)));
    EXPECT_EQ(ReadFileBytes(Store(yolka)), "yolka");
    EXPECT_EQ(Items(form.ListBox1), QStringList{"Ёлка.txt"});

    // A PC name with a letter that Windows-1251 lacks is refused before anything runs.
    WriteFileBytes(Pc("日本.txt"), "x");
    form.FileListBox1->Update();
    Enter(form.FileListBox1);
    Select(form.FileListBox1, "日本.txt");
    boxes.clear();
    form.Button2->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].type, TMsgDlgType::mtError);
    EXPECT_EQ(std::distance(fs::directory_iterator(sim->Store()), fs::directory_iterator()), 1);
}

TEST_F(FrontEndToEnd, OverTheSerialLineThePortOfTheDeviceMapListsAndTakesAFile)
{
    // A second simulator on a pseudo-terminal that the device map makes COM7; the window and the
    // programs it starts find it through XDG_CONFIG_HOME.
    cabrix::test::XdgConfigHome xdg;
    SimOptions o;
    o.pty = xdg.ComLink(7);
    o.args = {"--idle-timeout", "5", "--baud", "115200"};
    SimProcess serial(std::move(o));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(xdg.Path().string()));
    WriteFileBytes(serial.Store() / "serial.txt", "over the line");
    WriteFileBytes(serial.Store() / "slow.bin", PatternBytes(200000, 3));
    const std::string bytes = PatternBytes(5000, 9);
    WriteFileBytes(Pc("up.bin"), bytes);
    TForm1 &form = OpenAndSet();
    EXPECT_TRUE(form.ListBox1->count() == 0);

    form.ComboBox1->setCurrentIndex(1);
    QStringList ports;
    for (int i = 0; i < form.ComboBox2->count(); ++i)
        ports.append(form.ComboBox2->itemText(i));
    EXPECT_TRUE(ports.contains("COM7")) << ports.join(' ').toStdString();
    form.ComboBox2->setEditText("COM7");
    form.Button5->click();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(form.PlcListValid());
    EXPECT_EQ(Items(form.ListBox1), (QStringList{"serial.txt", "slow.bin"}));

    Enter(form.FileListBox1);
    Select(form.FileListBox1, "up.bin");
    answers = {mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(ReadFileBytes(serial.Store() / "up.bin"), bytes);
    EXPECT_EQ(Items(form.ListBox1), (QStringList{"serial.txt", "slow.bin", "up.bin"}));

    // A read cancelled mid-way leaves the controller inside its exchange; the listing that
    // follows still finds it.
    boxes.clear();
    Enter(form.ListBox1);
    Select(form.ListBox1, "slow.bin");
    answers = {mrYes};
    // Cancel once the wait box has been up for a second: the whole read takes 17 s.
    QTimer cancel;
    int ticks = 0;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (Form3->isVisible() && ++ticks == 5)
            Form3->Button1->click();
    });
    cancel.start(200);
    form.Button2->click();
    cancel.stop();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], Notice("Копирование отменено."));
    EXPECT_TRUE(form.PlcListValid());
    EXPECT_EQ(Items(form.ListBox1), (QStringList{"serial.txt", "slow.bin", "up.bin"}));
    EXPECT_FALSE(fs::exists(Pc("slow.bin")));
}

} // namespace
