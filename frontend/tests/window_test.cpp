// The main window on the offscreen platform against the fake tool, with every message box and
// modal form answered through the seam.
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "cabrix.h"
#include "file_browse.h"
#include "msgbox.h"

#include "qt_env.h"
#include "window_operator.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QImage>
#include <QPixmap>
#include <QProgressBar>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

namespace {


class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        ASSERT_TRUE(tmp.isValid());
        QDir root(tmp.path());
        ASSERT_TRUE(root.mkpath("tools/plc") && root.mkpath("pc"));
        tools = root.filePath("tools");
        pc = QDir(root.filePath("pc")).canonicalPath();
        ASSERT_TRUE(QFile::link(FAKE_TOOL, tools + "/cabrix"));
        ASSERT_TRUE(QFile::link(FAKE_TOOL, tools + "/cabrix_old"));
        SetToolFolderOverride(tools);
        savedCwd = QDir::currentPath();
        QDir::setCurrent(pc);
    }

    void TearDown() override
    {
        QDir::setCurrent(savedCwd);
    }

    // Creates the three forms in the program's order.
    TForm1 &Open()
    {
        Form1 = new TForm1;
        Form2 = new TForm2;
        Form3 = new TForm3;
        return *Form1;
    }

    void Put(const QString &path, const QByteArray &content = "data")
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    void PlcFile(const QString &name) { Put(tools + "/plc/" + name); }
    void PcFile(const QString &name) { Put(pc + "/" + name); }
    void Steer(const QString &file, const QByteArray &content) { Put(tools + "/" + file, content); }

    QStringList Calls()
    {
        QFile f(tools + "/calls.log");
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList calls = QString::fromUtf8(f.readAll()).split('\n');
        calls.removeAll(QString());
        return calls;
    }

    QTemporaryDir tmp;
    QString tools;
    QString pc;
    QString savedCwd;
    // Declared last, so the forms go before the folders they show.
    WindowOperator op;
    std::vector<Box> &boxes = op.boxes;
    std::deque<int> &answers = op.answers;
    std::vector<QString> &modalShown = op.modalShown;
};

TEST_F(WindowTest, ControlsCarryTheirNamesCaptionsAndPlaces)
{
    PlcFile("b.txt");
    TForm1 &form = Open();
    EXPECT_EQ(form.windowTitle(), "Form1");
    EXPECT_EQ(form.size(), QSize(758, 480));
    EXPECT_EQ(form.minimumSize(), QSize(758, 480));
    const std::pair<const char *, const char *> buttons[] = {
        {"Button1", "Del"}, {"Button2", "Copy"}, {"Button3", "Dir"}, {"Button4", "Info"}, {"Button5", "Set"}};
    for (const auto &[name, caption] : buttons) {
        auto *b = form.findChild<QPushButton *>(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b->text(), caption);
    }
    for (const char *name : {"Panel1", "Panel2", "Panel3", "Panel4", "Panel5", "DriveComboBox1", "Label1",
                             "DirectoryListBox1", "FileListBox1", "ComboBox1", "Edit1", "ComboBox2", "ListBox1"})
        EXPECT_NE(form.findChild<QWidget *>(name), nullptr) << name;
    EXPECT_EQ(form.Button2->geometry(), QRect(96, 8, 75, 25));
    EXPECT_EQ(form.Button5->geometry(), QRect(184, 2, 75, 21));
    EXPECT_EQ(form.Panel1->geometry(), QRect(0, 480 - 41, 758, 41));
    EXPECT_EQ(form.DirectoryListBox1->width(), 168);
    EXPECT_EQ(form.Edit1->text(), "192.168..");
    EXPECT_EQ(form.ComboBox1->currentText(), "TCP");
    EXPECT_TRUE(form.ComboBox2->isHidden());

    EXPECT_EQ(Form2->windowTitle(), "PLC Info");
    EXPECT_EQ(Form2->size(), QSize(373, 250));
    EXPECT_TRUE(Form2->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(Form2->findChild<QPushButton *>()->text(), "Ok");
    EXPECT_EQ(Form3->size(), QSize(400, 146));
    EXPECT_TRUE(Form3->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(Form3->Label1->wordWrap());
}

// Only the end of the run takes the wait box away: an Esc or a close request on it would leave
// the main window disabled behind nothing.
TEST_F(WindowTest, TheWaitBoxStaysUntilTheRunEnds)
{
    Open();
    Form3->show();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(Form3, &esc);
    EXPECT_TRUE(Form3->isVisible());
    Form3->close();
    EXPECT_TRUE(Form3->isVisible());
    // It has a border of its own, so that it does not look like a hole in the disabled window.
    const QImage shot = Form3->grab().toImage();
    EXPECT_NE(shot.pixel(0, 0), shot.pixel(4, 4));
    Form3->hide();
    EXPECT_FALSE(Form3->isVisible());
}

TEST_F(WindowTest, StartUpListsTheControllerSortedOverTcpFromTheAddressField)
{
    PlcFile("b.txt");
    PlcFile("A.txt");
    TForm1 &form = Open();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Calls(), QStringList{"/TCP192.168..|/dir"});
    EXPECT_EQ(Items(form.ListBox1), (QStringList{"A.txt", "b.txt"}));
    EXPECT_TRUE(form.PlcListValid());
    EXPECT_FALSE(form.PcSideActive());
    EXPECT_FALSE(form.PlcSideActive());
    EXPECT_EQ(form.FileListBox1->Directory(), pc);
}

TEST_F(WindowTest, FailedListingShowsTheErrorOverAnEmptyListAndCopyAndDeleteSayWhy)
{
    PlcFile("a.txt");
    TForm1 &form = Open();
    ASSERT_EQ(Items(form.ListBox1), QStringList{"a.txt"});

    // What the list shows while the error box is up.
    QStringList behindTheBox{"not shown"};
    op.onBox = [&](const Box &) { behindTheBox = Items(form.ListBox1); };
    Steer("fail_dir", "100");
    form.Button3->click();
    EXPECT_EQ(boxes, std::vector<Box>{Error("Произошла ошибка связи с ПЛК!")});
    EXPECT_TRUE(behindTheBox.isEmpty());
    EXPECT_FALSE(form.PlcListValid());
    op.onBox = {};
    boxes.clear();

    Enter(form.ListBox1);
    form.Button2->click();
    form.Button1->click();
    EXPECT_EQ(boxes, (std::vector<Box>{Notice("Список файлов контроллера не прочитан, копирование "
                                              "невозможно. Проверьте связь и нажмите Dir."),
                                       Notice("Файл не выбран!")}));
    EXPECT_EQ(Calls().size(), 2);
}

TEST_F(WindowTest, NothingSelectedGivesTheNotice)
{
    PlcFile("a.txt");
    PcFile("p.txt");
    TForm1 &form = Open();
    form.Button2->click(); // no side entered yet
    Enter(form.FileListBox1);
    form.Button2->click(); // PC side, no file selected
    Enter(form.ListBox1);
    form.Button1->click(); // controller side, nothing selected
    Enter(form.FileListBox1);
    Select(form.FileListBox1, "p.txt");
    form.Button1->click(); // PC files are never deleted
    EXPECT_EQ(boxes, std::vector<Box>(4, Notice("Файл не выбран!")));
    EXPECT_EQ(Calls().size(), 1);
}

TEST_F(WindowTest, EnteringOneListClearsTheOthersSelection)
{
    PlcFile("a.txt");
    PcFile("p.txt");
    TForm1 &form = Open();
    Enter(form.ListBox1);
    Select(form.ListBox1, "a.txt");
    Enter(form.FileListBox1);
    EXPECT_TRUE(form.PcSideActive());
    EXPECT_FALSE(form.PlcSideActive());
    EXPECT_TRUE(form.ListBox1->selectedItems().isEmpty());
    Select(form.FileListBox1, "p.txt");
    Enter(form.ListBox1);
    EXPECT_TRUE(form.FileListBox1->selectedItems().isEmpty());
    EXPECT_TRUE(form.PlcSideActive());
}

TEST_F(WindowTest, CopyToTheControllerAsksRunsTheOldToolAndRefreshes)
{
    PlcFile("a.txt");
    PcFile("new.txt");
    TForm1 &form = Open();
    Enter(form.FileListBox1);
    Select(form.FileListBox1, "new.txt");
    answers = {mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes, std::vector<Box>{Question("Копировать файла \"" + pc + "/new.txt\" в контроллер?")});
    EXPECT_EQ(Calls(), (QStringList{"/TCP192.168..|/dir", "/TCP192.168..|/FLDR" + pc + "|/up|new.txt",
                                    "/TCP192.168..|/dir"}));
    EXPECT_EQ(Items(form.ListBox1), (QStringList{"a.txt", "new.txt"}));
    EXPECT_TRUE(QFile::exists(tools + "/plc/new.txt"));
    EXPECT_TRUE(form.WaitText().isEmpty());
}

TEST_F(WindowTest, CopyToTheControllerAsksBeforeOverwritingAListedName)
{
    PlcFile("a.txt");
    PcFile("a.txt");
    PcFile("A.TXT");
    TForm1 &form = Open();
    Enter(form.FileListBox1);

    // No to the overwrite question: nothing runs.
    Select(form.FileListBox1, "a.txt");
    answers = {mrYes, mrNo};
    form.Button2->click();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], QuestionDefaultNo("Файл \"a.txt\" уже есть в контроллере. Перезаписать его?"));
    EXPECT_EQ(Calls().size(), 1);
    EXPECT_TRUE(form.WaitText().isEmpty());

    // A name that differs only in letter case is another file: no overwrite question.
    boxes.clear();
    Select(form.FileListBox1, "A.TXT");
    answers = {mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Calls().size(), 3);

    // Yes to both.
    boxes.clear();
    Select(form.FileListBox1, "a.txt");
    answers = {mrYes, mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(Calls().size(), 5);
}

TEST_F(WindowTest, CopyToThePcAsksRunsTheToolAndRereadsTheFolder)
{
    PlcFile("b.txt");
    TForm1 &form = Open();
    Enter(form.ListBox1);
    Select(form.ListBox1, "b.txt");
    answers = {mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes, std::vector<Box>{Question("Копировать файла \"b.txt\" в папку \"" + pc + "\"?")});
    EXPECT_EQ(Calls(), (QStringList{"/TCP192.168..|/dir", "/TCP192.168..|/FLDR" + pc + "|/get|b.txt",
                                    "/TCP192.168..|/dir"}));
    EXPECT_TRUE(QFile::exists(pc + "/b.txt"));
    EXPECT_EQ(Items(form.FileListBox1), QStringList{"b.txt"});

    // Now the file exists: the overwrite question, answered Cancel.
    boxes.clear();
    Select(form.ListBox1, "b.txt");
    answers = {mrYes, mrCancel};
    form.Button2->click();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], QuestionDefaultNo("Файл \"" + pc + "/b.txt\" уже существует. Перезаписать его?"));
    EXPECT_EQ(Calls().size(), 3);
}

// Whatever a copy or a delete comes to, the controller list then shows what the controller holds.
TEST_F(WindowTest, AFailedCopyOrDeleteShowsTheToolsMessageOverAFreshListing)
{
    PlcFile("a.txt");
    PlcFile("b.txt");
    PlcFile("c.txt");
    Steer("fail_get", "120");
    Steer("fail_del", "100");
    TForm1 &form = Open();
    Enter(form.ListBox1);
    QStringList behindTheBox;
    op.onBox = [&](const Box &b) {
        if (b.type == TMsgDlgType::mtError)
            behindTheBox = Items(form.ListBox1);
    };

    QFile::remove(tools + "/plc/c.txt"); // gone from the controller since the listing
    Select(form.ListBox1, "b.txt");
    answers = {mrYes};
    form.Button2->click();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], Error("Произошла единичная ошибка при чтении файла с ПЛК!"));
    EXPECT_EQ(behindTheBox, (QStringList{"a.txt", "b.txt"}));
    EXPECT_TRUE(form.isEnabled());

    // A delete that the controller carried out although the tool reported a failure.
    QFile::remove(tools + "/plc/a.txt");
    boxes.clear();
    Select(form.ListBox1, "a.txt");
    answers = {mrYes};
    form.Button1->click();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], Error("Произошла ошибка связи с ПЛК!"));
    EXPECT_EQ(behindTheBox, QStringList{"b.txt"});
    EXPECT_EQ(Calls().back(), "/TCP192.168..|/dir");
}

TEST_F(WindowTest, DeleteAsksRunsTheToolAndRefreshes)
{
    PlcFile("a.txt");
    PlcFile("b.txt");
    TForm1 &form = Open();
    Enter(form.ListBox1);
    Select(form.ListBox1, "a.txt");
    answers = {mrNo};
    form.Button1->click();
    EXPECT_EQ(boxes, std::vector<Box>{QuestionDefaultNo("Удалить файла \"a.txt\"?")});
    EXPECT_EQ(Calls().size(), 1);

    Select(form.ListBox1, "a.txt");
    answers = {mrYes};
    form.Button1->click();
    EXPECT_EQ(Calls(), (QStringList{"/TCP192.168..|/dir", "/TCP192.168..|/del|a.txt", "/TCP192.168..|/dir"}));
    EXPECT_EQ(Items(form.ListBox1), QStringList{"b.txt"});
}

TEST_F(WindowTest, ListedNamesThatLeaveTheFolderOrTheQuotesAreRefused)
{
    Steer("listing", "../evil.txt\r\r\na\"b\r\r\nok.txt\r\r\n");
    TForm1 &form = Open();
    ASSERT_EQ(Items(form.ListBox1), (QStringList{"../evil.txt", "a\"b", "ok.txt"}));
    Enter(form.ListBox1);
    for (const QString name : {"../evil.txt", "a\"b"}) {
        boxes.clear();
        Select(form.ListBox1, name);
        answers = {mrYes, mrYes};
        form.Button2->click();
        Select(form.ListBox1, name);
        form.Button1->click();
        const Box refused = Error("Недопустимое имя файла в контроллере: \"" + name + "\"");
        EXPECT_EQ(boxes, (std::vector<Box>{refused, refused}));
    }
    EXPECT_EQ(Calls().size(), 1);
    EXPECT_FALSE(QFile::exists(QDir(pc).filePath("../evil.txt")));
}

TEST_F(WindowTest, WaitBoxOnlyWhileCopyingOrDeleting)
{
    PlcFile("a.txt");
    PcFile("new.txt");
    TForm1 &form = Open();
    form.show();
    form.activateWindow();
    QApplication::processEvents();
    Steer("delay_up", "500");
    Steer("delay_dir", "400");
    Steer("delay_del", "400");

    struct Sample {
        bool boxUp;
        bool formEnabled;
        QString text;
    };
    std::vector<Sample> samples;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        samples.push_back({Form3->isVisible(), form.isEnabled(), Form3->Label1->text()});
    });
    sampler.start(20);

    // Dir and Info: no wait box.
    form.Button3->click();
    form.Button4->click();
    ASSERT_FALSE(samples.empty());
    for (const Sample &s : samples)
        EXPECT_TRUE(!s.boxUp && s.formEnabled);
    EXPECT_EQ(modalShown, std::vector<QString>{"Form2"});
    EXPECT_EQ(Items(Form2->ListBox1), (QStringList{"Model 7", "Firmware 2.1"}));

    // Copy: the box is up and the window disabled while the tool runs, not during the refresh.
    samples.clear();
    Enter(form.FileListBox1);
    Select(form.FileListBox1, "new.txt");
    answers = {mrYes};
    form.Button2->click();
    ASSERT_FALSE(samples.empty());
    EXPECT_TRUE(samples.front().boxUp);
    EXPECT_FALSE(samples.front().formEnabled);
    EXPECT_EQ(samples.front().text, "Подождите. Идет копирование…");
    EXPECT_FALSE(samples.back().boxUp); // the listing that follows
    EXPECT_TRUE(samples.back().formEnabled);
    // The focus is back in the list the operator was in, not on a button.
    EXPECT_EQ(QApplication::focusWidget(), form.FileListBox1);

    // Delete likewise, with its own text.
    samples.clear();
    Enter(form.ListBox1);
    Select(form.ListBox1, "a.txt");
    answers = {mrYes};
    form.Button1->click();
    ASSERT_FALSE(samples.empty());
    EXPECT_TRUE(samples.front().boxUp);
    EXPECT_EQ(samples.front().text, "Подождите. Идет удаление…");
    EXPECT_FALSE(samples.back().boxUp);
    EXPECT_FALSE(Form3->isVisible());
    EXPECT_TRUE(form.isEnabled());
    EXPECT_TRUE(form.WaitText().isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), form.ListBox1);
}

// A close request during a run: a copy or a delete stops only if the operator says so, and then
// the window goes with no box left behind it; a listing just stops.
TEST_F(WindowTest, ClosingDuringARunStopsItOnlyIfTheOperatorSaysSo)
{
    PcFile("new.txt");
    PcFile("second.txt");
    TForm1 &form = Open();
    form.show();
    Enter(form.FileListBox1);
    auto closeDuringTheRun = [&] { QTimer::singleShot(300, &form, [&] { form.close(); }); };
    auto settle = [] { QApplication::processEvents(); };
    const Box stopQuestion = QuestionDefaultNo("Прервать копирование и закрыть окно?");

    // No: the copy goes on to its end and the window stays.
    Steer("delay_up", "1500");
    closeDuringTheRun();
    Select(form.FileListBox1, "new.txt");
    answers = {mrYes, mrNo};
    form.Button2->click();
    settle();
    EXPECT_EQ(boxes, (std::vector<Box>{boxes.front(), stopQuestion}));
    EXPECT_TRUE(QFile::exists(tools + "/plc/new.txt"));
    EXPECT_TRUE(form.isVisible());

    // Yes: the tool is stopped (it would copy only after 20 s) and the window closes.
    Steer("delay_up", "20000");
    boxes.clear();
    const qsizetype callsBefore = Calls().size();
    closeDuringTheRun();
    Select(form.FileListBox1, "second.txt");
    answers = {mrYes, mrYes};
    form.Button2->click();
    settle();
    EXPECT_EQ(boxes, (std::vector<Box>{boxes.front(), stopQuestion}));
    EXPECT_FALSE(QFile::exists(tools + "/plc/second.txt"));
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(Form3->isVisible());
    EXPECT_EQ(Calls().size(), callsBefore + 1); // no listing after it

    // A listing is stopped without a question, and its failure is not shown.
    form.show();
    Steer("delay_dir", "20000");
    boxes.clear();
    closeDuringTheRun();
    form.Button3->click();
    settle();
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(form.isVisible());
}

// A listing leaves the window enabled; what the operator presses meanwhile starts no second run
// inside the first.
TEST_F(WindowTest, ButtonsPressedDuringAListingStartNothing)
{
    PlcFile("a.txt");
    TForm1 &form = Open();
    Enter(form.ListBox1);
    Select(form.ListBox1, "a.txt");
    Steer("delay_dir", "1000");
    answers = {mrYes, mrYes, mrYes};
    QTimer::singleShot(300, &form, [&] {
        for (QPushButton *b : {form.Button1, form.Button2, form.Button3, form.Button4, form.Button5})
            b->click();
    });
    form.Button3->click();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Calls().size(), 2);
}

// What the progress box shows, sampled while a run goes on.
struct BoxSample {
    int value, maximum;
    QString file, figures;
};

class BoxSampler {
public:
    BoxSampler()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (Form3 != nullptr && Form3->isVisible())
                samples.push_back({Form3->ProgressBar1->value(), Form3->ProgressBar1->maximum(),
                                   Form3->Label2->text(), Form3->Label3->text()});
        });
        m_timer.start(20);
    }
    bool Any(const std::function<bool(const BoxSample &)> &test) const
    {
        return std::any_of(samples.begin(), samples.end(), test);
    }
    std::vector<BoxSample> samples;

private:
    QTimer m_timer;
};

// Two files to the controller, each in six reported steps: the bar measures the whole run,
// the file line counts the files, the figures give bytes of the total and, after a second, the
// rate. A read knows no total: the bar is busy.
TEST_F(WindowTest, ProgressReachesTheBarAndTheFigures)
{
    PcFile("a.bin");
    Put(pc + "/b.bin", QByteArray(6000, 'b'));
    Steer("pace_up", "6 200");
    Steer("pace_get", "4 150");
    TForm1 &form = Open();
    form.show();
    Enter(form.FileListBox1);
    SelectSeveral(form.FileListBox1, {"a.bin", "b.bin"});
    answers = {mrYes};
    BoxSampler box;
    form.Button2->click();
    EXPECT_EQ(boxes, std::vector<Box>{Question("Копировать 2 файла в контроллер?")});
    EXPECT_TRUE(box.Any([](const BoxSample &s) { return s.maximum == 1000 && s.value > 0 && s.value < 1000; }));
    EXPECT_TRUE(box.Any([](const BoxSample &s) { return s.file == "Файл 2 из 2: b.bin"; }));
    EXPECT_TRUE(box.Any([](const BoxSample &s) { return s.figures.contains(" из 5,9 Кб") || s.figures.contains(" из 5.9 Кб"); }));
    EXPECT_TRUE(box.Any([](const BoxSample &s) { return s.figures.contains("/с"); }));
    EXPECT_EQ(QFile(tools + "/plc/b.bin").size(), 6000);

    box.samples.clear();
    Enter(form.ListBox1);
    Select(form.ListBox1, "a.bin");
    answers = {mrYes, mrYes};
    form.Button2->click();
    ASSERT_FALSE(box.samples.empty());
    EXPECT_TRUE(box.Any([](const BoxSample &s) { return s.maximum == 0 && s.file == "a.bin" && s.figures.contains("Кб"); }));
    EXPECT_FALSE(box.Any([](const BoxSample &s) { return s.figures.contains(" из "); }));
}

// Cancel (or Esc on the box) stops the console program politely and soon, lists the controller
// again and says the work was cancelled; the file under way is not touched.
TEST_F(WindowTest, CancelStopsTheRunListsAgainAndSaysSo)
{
    PlcFile("a.txt");
    PlcFile("b.txt");
    Put(pc + "/a.txt", "the PC's own");
    Steer("pace_get", "2 100");
    Steer("stall_get", "");
    Steer("pace_del", "2 100");
    Steer("stall_del", "");
    TForm1 &form = Open();
    form.show();
    Enter(form.ListBox1);
    struct Case {
        const char *what;
        QPushButton *button;
        bool byEscape;
        QString notice;
    };
    const Case cases[] = {
        {"copy", form.Button2, false, "Копирование отменено."},
        {"delete", form.Button1, true, "Удаление отменено."},
    };
    for (const Case &c : cases) {
        boxes.clear();
        Select(form.ListBox1, "a.txt");
        answers = {mrYes, mrYes};
        QElapsedTimer clock;
        QTimer::singleShot(400, &form, [&] {
            ASSERT_TRUE(Form3->isVisible()) << c.what;
            clock.start();
            if (c.byEscape)
                QTest::keyClick(Form3, Qt::Key_Escape);
            else
                Form3->Button1->click();
            EXPECT_FALSE(Form3->Button1->isEnabled()) << c.what;
        });
        const qsizetype callsBefore = Calls().size();
        c.button->click();
        EXPECT_LT(clock.elapsed(), 3000) << c.what;
        EXPECT_EQ(boxes.back(), Notice(c.notice)) << c.what;
        EXPECT_EQ(Calls().size(), callsBefore + 2) << c.what;
        EXPECT_EQ(Calls().back(), "/TCP192.168..|/dir") << c.what;
        EXPECT_FALSE(Form3->isVisible());
        EXPECT_TRUE(form.isEnabled());
    }
    QFile kept(pc + "/a.txt");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "the PC's own");
    EXPECT_EQ(Items(form.ListBox1), (QStringList{"a.txt", "b.txt"}));
}

// A copy's time-out counts from its last progress report: one that keeps moving outlives it,
// one that has stopped moving is ended with the time-out's message.
TEST_F(WindowTest, OnlyATransferThatStopsMovingIsEndedByTheTimeOut)
{
    PcFile("moving.bin");
    PcFile("stalled.bin");
    TForm1 &form = Open();
    form.Plc()->Timeouts.Copy = 1;
    Enter(form.FileListBox1);

    Steer("pace_up", "10 250"); // two and a half seconds in all
    Select(form.FileListBox1, "moving.bin");
    answers = {mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(QFile::exists(tools + "/plc/moving.bin"));

    Steer("stall_up", "");
    boxes.clear();
    Select(form.FileListBox1, "stalled.bin");
    answers = {mrYes};
    QElapsedTimer clock;
    clock.start();
    form.Button2->click();
    EXPECT_LT(clock.elapsed(), 10000);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], Error("Превышен интервал ожидания!"));
    EXPECT_FALSE(QFile::exists(tools + "/plc/stalled.bin"));
}

// Several selected files go in one run each way, with "Yes to all" and "No to all" for the
// files they would replace; a delete of several asks once, naming how many.
TEST_F(WindowTest, SeveralSelectedFilesAreCopiedAndDeletedInOneRun)
{
    PlcFile("b.txt");
    PlcFile("d.txt");
    for (const char *name : {"a.txt", "b.txt", "c.txt", "d.txt"})
        PcFile(name);
    TForm1 &form = Open();
    Enter(form.FileListBox1);
    SelectSeveral(form.FileListBox1, {"a.txt", "b.txt", "c.txt", "d.txt"});
    answers = {mrYes, mrNo, mrYes};
    form.Button2->click();
    EXPECT_EQ(boxes, (std::vector<Box>{Question("Копировать 4 файла в контроллер?"),
                                       OverwriteToAll("Файл \"b.txt\" уже есть в контроллере. Перезаписать его?"),
                                       OverwriteToAll("Файл \"d.txt\" уже есть в контроллере. Перезаписать его?")}));
    EXPECT_EQ(Calls()[1], "/TCP192.168..|/FLDR" + pc + "|/up|a.txt|c.txt|d.txt");
    EXPECT_EQ(Items(form.ListBox1), (QStringList{"a.txt", "b.txt", "c.txt", "d.txt"}));
    // The selection outlives the run.
    EXPECT_EQ(form.FileListBox1->FileNames(), (QStringList{"a.txt", "b.txt", "c.txt", "d.txt"}));

    // Back to the PC, where all four are: No to all keeps every PC file.
    boxes.clear();
    Enter(form.ListBox1);
    SelectSeveral(form.ListBox1, {"a.txt", "c.txt"});
    answers = {mrYes, mrNoToAll};
    form.Button2->click();
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(Calls().size(), 3);
    // Yes to all replaces them in one run.
    boxes.clear();
    answers = {mrYes, mrYesToAll};
    form.Button2->click();
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(Calls()[3], "/TCP192.168..|/FLDR" + pc + "|/get|a.txt|c.txt");

    boxes.clear();
    SelectSeveral(form.ListBox1, {"a.txt", "b.txt", "d.txt"});
    answers = {mrYes};
    form.Button1->click();
    EXPECT_EQ(boxes, std::vector<Box>{QuestionDefaultNo("Удалить 3 файла?")});
    EXPECT_EQ(Calls()[5], "/TCP192.168..|/del|a.txt|b.txt|d.txt");
    EXPECT_EQ(Items(form.ListBox1), QStringList{"c.txt"});
}

// Each key does what its button does, where the operator is; the buttons' tool tips name them.
TEST_F(WindowTest, EachShortcutTriggersItsAction)
{
    PlcFile("a.txt");
    PcFile("p.txt");
    QDir(pc).mkdir("sub");
    TForm1 &form = Open();
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    auto lastBox = [&] { return boxes.empty() ? QString() : boxes.back().text; };
    auto lastCall = [&] { return Calls().back(); };
    auto folder = [&] { return form.FileListBox1->Directory(); };
    const QString copyPc = "Копировать файла \"" + pc + "/p.txt\" в контроллер?";
    struct Case {
        const char *what;
        QWidget *focus;
        QKeyCombination key;
        QPushButton *button; // whose tool tip names the key
        std::function<QString()> effect;
        QString expected;
    };
    const Case cases[] = {
        {"F5 copies", form.FileListBox1, Qt::Key_F5, form.Button2, lastBox, copyPc},
        {"Delete deletes on the controller", form.ListBox1, Qt::Key_Delete, form.Button1, lastBox,
         "Удалить файла \"a.txt\"?"},
        {"F8 likewise", form.ListBox1, Qt::Key_F8, form.Button1, lastBox, "Удалить файла \"a.txt\"?"},
        {"Delete on the PC deletes nothing", form.FileListBox1, Qt::Key_Delete, nullptr, lastBox, ""},
        {"Ctrl+R lists", form.FileListBox1, Qt::CTRL | Qt::Key_R, form.Button3, lastCall, "/TCP192.168..|/dir"},
        {"F2 lists", form.ListBox1, Qt::Key_F2, form.Button3, lastCall, "/TCP192.168..|/dir"},
        {"Ctrl+I shows the information", form.ListBox1, Qt::CTRL | Qt::Key_I, form.Button4,
         [&] { return modalShown.empty() ? QString() : modalShown.back(); }, "Form2"},
        {"Enter in the address sets", form.Edit1, Qt::Key_Enter, form.Button5, lastCall, "/TCP127.0.0.8|/dir"},
        {"Enter opens a folder", form.DirectoryListBox1, Qt::Key_Return, nullptr, folder, pc + "/sub"},
        {"Backspace goes up", form.FileListBox1, Qt::Key_Backspace, nullptr, folder, pc},
    };
    form.Edit1->setText("127.0.0.8");
    for (const Case &c : cases) {
        boxes.clear();
        modalShown.clear();
        QFile::remove(tools + "/calls.log");
        Put(tools + "/calls.log", "none\n"); // a line that no run writes
        c.focus->setFocus();
        Select(form.ListBox1, "a.txt");
        if (folder() == pc) // Backspace starts in the folder the case before opened
            Select(form.FileListBox1, "p.txt");
        if (c.focus == form.DirectoryListBox1) {
            for (int i = 0; i < form.DirectoryListBox1->count(); ++i) {
                if (form.DirectoryListBox1->item(i)->text().trimmed() == "sub")
                    form.DirectoryListBox1->setCurrentRow(i);
            }
        }
        QTest::keyClick(c.focus, c.key.key(), c.key.keyboardModifiers());
        EXPECT_EQ(c.effect(), c.expected) << c.what;
        if (c.button != nullptr) {
            EXPECT_TRUE(c.button->toolTip().contains(QKeySequence(c.key).toString())) << c.what;
        }
    }
}

// The link, the window's size and the split are remembered: the next start lists the
// remembered controller.
TEST_F(WindowTest, SettingsSurviveARestart)
{
    struct Case {
        int kind;
        QString text;
        QString firstCall;
    };
    const Case cases[] = {{1, "COM3", "/COM3|/dir"}, {0, "127.0.0.9", "/TCP127.0.0.9|/dir"}};
    for (const Case &c : cases) {
        TForm1 &form = Open();
        form.show();
        form.ComboBox1->setCurrentIndex(c.kind);
        (c.kind == 0 ? form.Edit1->setText(c.text) : form.ComboBox2->setEditText(c.text));
        form.Button5->click();
        form.resize(900, 600);
        form.SetSplit(0.4);
        form.close();
        DeleteForms();
        QFile::remove(tools + "/calls.log");

        TForm1 &again = Open();
        EXPECT_EQ(Calls().front(), c.firstCall);
        EXPECT_EQ(again.ComboBox1->currentIndex(), c.kind);
        EXPECT_EQ(c.kind == 0 ? again.Edit1->text() : again.ComboBox2->currentText(), c.text);
        EXPECT_EQ(again.ComboBox2->isHidden(), c.kind == 0);
        EXPECT_EQ(again.size(), QSize(900, 600));
        EXPECT_EQ(again.Panel2->width(), 360);
        again.close();
        DeleteForms();
    }
}

// A screen reader can name every control, and tell the two file lists apart.
TEST_F(WindowTest, EveryControlHasAnAccessibleNameOfItsOwn)
{
    Open();
    for (QWidget *window : std::initializer_list<QWidget *>{Form1, Form2, Form3}) {
        QStringList names;
        for (QWidget *w : window->findChildren<QWidget *>()) {
            const QString object = w->objectName();
            if (object.isEmpty() || object.startsWith("qt_") || object.startsWith("Panel"))
                continue;
            EXPECT_FALSE(w->accessibleName().isEmpty()) << object.toStdString();
            names.append(w->accessibleName());
        }
        EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), names.size()) << names.join(", ").toStdString();
    }
    EXPECT_NE(Form1->ListBox1->accessibleName(), Form1->FileListBox1->accessibleName());
}

TEST_F(WindowTest, ThePcListAndTheFreeSpaceFollowTheShownFolder)
{
    PcFile("p.txt");
    TForm1 &form = Open();
    form.show();
    Enter(form.FileListBox1);
    Select(form.FileListBox1, "p.txt");
    form.Label1->setText("stale");
    PcFile("q.txt"); // another program writes into the folder
    QElapsedTimer clock;
    clock.start();
    while (form.FileListBox1->count() < 2 && clock.elapsed() < 10000) {
        QApplication::processEvents();
        QThread::msleep(10);
    }
    EXPECT_EQ(Items(form.FileListBox1), (QStringList{"p.txt", "q.txt"}));
    EXPECT_EQ(form.FileListBox1->FileName(), "p.txt");
    EXPECT_TRUE(form.Label1->text().startsWith("свободно ")) << form.Label1->text().toStdString();
}

TEST_F(WindowTest, LinkChoiceAppliesOnlyWithSet)
{
    PlcFile("a.txt");
    TForm1 &form = Open();
    form.ComboBox1->setCurrentIndex(1); // COM
    EXPECT_FALSE(form.ComboBox2->isHidden());
    EXPECT_TRUE(form.Edit1->isHidden());
    EXPECT_EQ(form.Plc()->LinkArg, " /TCP192.168..");
    for (int i = 0; i < form.ComboBox2->count(); ++i)
        EXPECT_TRUE(form.ComboBox2->itemText(i).startsWith("COM"));

    // Set without a port: the tool gets a bare slash and fails.
    form.ComboBox2->setEditText("");
    form.Button5->click();
    EXPECT_EQ(Calls().back(), "/|/dir");
    EXPECT_EQ(boxes, std::vector<Box>{Error("Неправильно заданы параметры командной строки!")});
    EXPECT_FALSE(form.PlcListValid());

    form.ComboBox2->setEditText("COM3");
    form.Button5->click();
    EXPECT_EQ(Calls().back(), "/COM3|/dir");
    EXPECT_TRUE(form.PlcListValid());

    form.ComboBox1->setCurrentIndex(0);
    EXPECT_TRUE(form.ComboBox2->isHidden());
    form.Edit1->setText("127.0.0.9");
    form.Button5->click();
    EXPECT_EQ(Calls().back(), "/TCP127.0.0.9|/dir");

    // "TCP" typed over "COM": while the edit goes on no item is chosen; when it ends, TCP is, and
    // the address field is the one shown again.
    form.ComboBox1->setCurrentIndex(1);
    form.ComboBox1->lineEdit()->setText("TCP");
    EXPECT_TRUE(form.Edit1->isHidden());
    emit form.ComboBox1->lineEdit()->editingFinished();
    EXPECT_EQ(form.ComboBox1->currentIndex(), 0);
    EXPECT_FALSE(form.Edit1->isHidden());
    EXPECT_TRUE(form.ComboBox2->isHidden());
}

TEST_F(WindowTest, ResizeSplitsThePanesHalfRoundingToEven)
{
    TForm1 &form = Open();
    form.show();
    form.setMinimumSize(0, 0);
    form.resize(751, 480);
    EXPECT_EQ(form.Panel2->width(), 376);
    EXPECT_EQ(form.Panel3->width(), 375);
    form.resize(753, 480);
    EXPECT_EQ(form.Panel2->width(), 376);
    form.resize(800, 480);
    EXPECT_EQ(form.Panel2->width(), 400);
    EXPECT_EQ(HalfRoundedToEven(751), 376);
    EXPECT_EQ(HalfRoundedToEven(749), 374);
}

TEST_F(WindowTest, ShowingTheWindowWritesTheFreeSpaceAndAnUnreadableDriveEmptiesTheLists)
{
    PcFile("p.txt");
    TForm1 &form = Open();
    form.show();
    EXPECT_TRUE(form.Label1->text().startsWith("свободно ")) << form.Label1->text().toStdString();
    EXPECT_TRUE(form.Label1->text().endsWith("Мб"));
    EXPECT_EQ(form.FileListBox1->Directory(), pc);
    EXPECT_EQ(Items(form.FileListBox1), QStringList{"p.txt"});

    form.DriveComboBox1->addItem("gone", tmp.path() + "/no-such-drive");
    form.DriveComboBox1->setCurrentIndex(form.DriveComboBox1->count() - 1);
    form.DriveComboBox1Change();
    EXPECT_EQ(form.Label1->text(), "нет диска");
    EXPECT_EQ(form.FileListBox1->count(), 0);
    EXPECT_EQ(form.DirectoryListBox1->count(), 0);
    EXPECT_EQ(QDir::currentPath(), pc);
}

TEST(FreeSpaceText, MegabytesWithTheLocalesSeparators)
{
    EXPECT_EQ(FreeSpaceText(1073741824, 2147483648, QLocale(QLocale::English, QLocale::UnitedStates)),
              "свободно 1,024.00Мб из 2,048.00Мб");
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    EXPECT_EQ(FreeSpaceText(1073741824, 2147483648, russian),
              "свободно " + russian.toString(1024.0, 'f', 2) + "Мб из " + russian.toString(2048.0, 'f', 2) + "Мб");
    EXPECT_TRUE(russian.toString(1024.0, 'f', 2).endsWith(",00"));
    // 0.125 MB rounds to the even neighbour 0.12; 0.375 MB to 0.38.
    EXPECT_EQ(FreeSpaceText(131072, 393216, QLocale::c()), "свободно 0.12Мб из 0.38Мб");
}

TEST(Unit1Routines, NextTokenWalksAZeroSeparatedList)
{
    const QByteArray names("COM1\0LPT1\0COM10\0\0", 17);
    int pos = 1;
    QByteArray token;
    NextToken(names, pos, token);
    EXPECT_EQ(token, "COM1");
    EXPECT_EQ(pos, 6);
    NextToken(names, pos, token);
    EXPECT_EQ(token, "LPT1");
    NextToken(names, pos, token);
    EXPECT_EQ(token, "COM10");
    NextToken(names, pos, token);
    EXPECT_EQ(token, "");
    pos = 100;
    NextToken(names, pos, token);
    EXPECT_EQ(token, "");
    pos = 2;
    NextToken("abc", pos, token); // no zero byte follows
    EXPECT_EQ(token, "");
    EXPECT_EQ(pos, 1);
    pos = 0;
    EXPECT_THROW(NextToken(names, pos, token), std::out_of_range);

    EXPECT_TRUE(HasPrefix("COM", "COM12"));
    EXPECT_TRUE(HasPrefix("COM", "COM"));
    EXPECT_FALSE(HasPrefix("COM", "com1"));
    EXPECT_FALSE(HasPrefix("COM", "CO"));
}

TEST(Unit1Routines, ListDosDevicesGivesTheComPortsOfTheDeviceMap)
{
    QTemporaryDir config;
    ASSERT_TRUE(QDir(config.path()).mkpath("cabrix/dosdevices"));
    const QString map = config.path() + "/cabrix/dosdevices/";
    ASSERT_TRUE(QFile::link("/dev/null", map + "com7"));
    ASSERT_TRUE(QFile::link("/dev/null", map + "com12"));
    ASSERT_TRUE(QFile::link("/nonexistent/device", map + "com8"));
    ASSERT_TRUE(QFile::link("/dev/null", map + "lpt1"));
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QStringList ports{"stale"};
    ListDosDevices(ports, "COM");
    qputenv("XDG_CONFIG_HOME", saved);
    EXPECT_TRUE(ports.contains("COM7"));
    EXPECT_TRUE(ports.contains("COM12"));
    EXPECT_FALSE(ports.contains("COM8"));
    EXPECT_FALSE(ports.contains("stale"));
    for (const QString &p : ports)
        EXPECT_TRUE(p.startsWith("COM")) << p.toStdString();
}

} // namespace
