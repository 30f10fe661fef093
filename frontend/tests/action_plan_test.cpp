// The decisions behind Copy and Del, without a window: which way, which questions with which
// default button, which call, and what is refused or noticed instead.
#include "action_plan.h"
#include "msgbox.h"

#include "qt_env.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const QString kCopyWait = "Подождите. Идет копирование…";

TPlcName Name(const QByteArray &bytes) { return plc_names::Listed(bytes); }

const TPlcName kYolka = Name("\xA8\xEB\xEA\xE0.txt"); // Ёлка.txt
const TPlcName kIlka = Name("\xE8\xEB\xEA\xE0.txt");  // илка.txt
const TPlcName kA = Name("a.txt");
const TPlcName kProgram = Name("\xCF\xF0\xEE\xE3.prg"); // Прог.prg

TSelection Pc(const QString &file)
{
    TSelection s;
    s.Side = TSide::Pc;
    s.PlcListValid = true;
    s.Folder = "/pc";
    s.PcFile = file;
    s.Listed = {kA, kIlka, kYolka, kProgram};
    return s;
}

TSelection Plc(const TPlcName &name)
{
    TSelection s = Pc(QString());
    s.Side = TSide::Plc;
    s.PlcFile = name;
    return s;
}

struct Expected {
    QString notice = {};
    QString refusal = {};
    std::vector<TQuestion> questions = {};
    TToolCall call = {};
};

void Check(const TPlan &plan, const Expected &e, const char *what)
{
    EXPECT_EQ(plan.Notice, e.notice) << what;
    EXPECT_EQ(plan.Refusal, e.refusal) << what;
    EXPECT_EQ(plan.Questions, e.questions) << what;
    EXPECT_EQ(plan.Call, e.call) << what;
}

class ActionPlanTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
    std::set<QString> pcFiles{"/pc/илка.txt"};
    TActionPlanner planner{[this](const QString &path) { return pcFiles.count(path) > 0; }};
};

// The window tests cover the plain cases; these are the names.
TEST_F(ActionPlanTest, CopyComparesAndChecksNamesAsTheControllerHasThem)
{
    TSelection noFolder = Plc(kA);
    noFolder.Folder.clear();
    struct Case {
        const char *what;
        TSelection selection;
        Expected expected;
    };
    const Case cases[] = {
        // The listed name is compared as the controller's bytes.
        {"a listed Cyrillic name", Pc("Прог.prg"),
         {"",
          "",
          {{"Копировать файла \"/pc/Прог.prg\" в контроллер?", mrYes},
           {"Файл \"Прог.prg\" уже есть в контроллере. Перезаписать его?", mrNo}},
          {TCallKind::PutFile, "/pc/Прог.prg", "", kCopyWait}}},
        {"a character the controller lacks", Pc("ü.txt"),
         {"", "Имя файла \"ü.txt\" содержит знаки, которых нет в кодировке имён контроллера "
              "(Windows-1251). Переименуйте файл."}},
        {"a colon in a POSIX name", Pc("a:b.txt"), {"", "Недопустимое имя файла: \"/pc/a:b.txt\""}},
        {"to the PC", Plc(kYolka),
         {"",
          "",
          {{"Копировать файла \"Ёлка.txt\" в папку \"/pc\"?", mrYes}},
          {TCallKind::GetFile, "/pc/Ёлка.txt", kYolka.Bytes, kCopyWait}}},
        {"to the PC over a file there", Plc(kIlka),
         {"",
          "",
          {{"Копировать файла \"илка.txt\" в папку \"/pc\"?", mrYes},
           {"Файл \"/pc/илка.txt\" уже существует. Перезаписать его?", mrNo}},
          {TCallKind::GetFile, "/pc/илка.txt", kIlka.Bytes, kCopyWait}}},
        {"to the PC without a folder", noFolder, {"", "Папка на ПК не выбрана!"}},
    };
    for (const Case &c : cases)
        Check(planner.Copy(c.selection), c.expected, c.what);
    Check(planner.Delete(Plc(kYolka)),
          {"", "", {{"Удалить файла \"Ёлка.txt\"?", mrNo}}, {TCallKind::DelFile, "", kYolka.Bytes, "Подождите. Идет удаление…"}},
          "a delete");
}

// A name that would leave the PC folder or its quotes on the command line is neither copied nor
// deleted.
TEST_F(ActionPlanTest, UnsafeNamesAreRefused)
{
    for (const char *bytes : {"", ".", "..", "../x", "a/b", "a\\b", "C:x", "a\"b", "a\tb", "a\rb", "a\x7f"}) {
        for (const TPlan &plan : {planner.Copy(Plc(Name(bytes))), planner.Delete(Plc(Name(bytes)))}) {
            EXPECT_TRUE(plan.Refusal.startsWith("Недопустимое имя файла")) << bytes;
            EXPECT_EQ(plan.Call.Kind, TCallKind::None) << bytes;
        }
    }
    // A quote in a PC name would end its quoted stretch; a backslash is a folder separator to the
    // console tool on POSIX.
    for (const char *pcFile : {"a\" /del \"b.txt", "sub\\prog.txt"})
        EXPECT_TRUE(planner.Copy(Pc(pcFile)).Refusal.startsWith("Недопустимое имя файла")) << pcFile;
}

} // namespace
