// The decisions behind Copy and Del, without a window: which way, which questions with which
// default button, which call, and what is refused or noticed instead.
#include "action_plan.h"
#include "msgbox.h"

#include "qt_env.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>

namespace {

const QString kCopyWait = "Подождите. Идет копирование…";

TPlcName Name(const QByteArray &bytes) { return plc_names::Listed(bytes); }

const TPlcName kYolka = Name("\xA8\xEB\xEA\xE0.txt"); // Ёлка.txt
const TPlcName kIlka = Name("\xE8\xEB\xEA\xE0.txt");  // илка.txt
const TPlcName kA = Name("a.txt");
const TPlcName kProgram = Name("\xCF\xF0\xEE\xE3.prg"); // Прог.prg

TSelection Pc(const QStringList &files)
{
    TSelection s;
    s.Side = TSide::Pc;
    s.PlcListValid = true;
    s.Folder = "/pc";
    s.PcFiles = files;
    s.Listed = {kA, kIlka, kYolka, kProgram};
    return s;
}
TSelection Pc(const QString &file) { return Pc(QStringList{file}); }

TSelection Plc(const TPlcNames &names)
{
    TSelection s = Pc(QStringList());
    s.Side = TSide::Plc;
    s.PlcFiles = names;
    return s;
}
TSelection Plc(const TPlcName &name) { return Plc(TPlcNames{name}); }

struct Expected {
    QString notice = {};
    QString refusal = {};
    std::vector<TQuestion> questions = {};
    std::vector<TOverwrite> overwrites = {};
    TToolCall call = {};
};

void Check(const TPlan &plan, const Expected &e, const char *what)
{
    EXPECT_EQ(plan.Notice, e.notice) << what;
    EXPECT_EQ(plan.Refusal, e.refusal) << what;
    EXPECT_EQ(plan.Questions, e.questions) << what;
    EXPECT_EQ(plan.Overwrites, e.overwrites) << what;
    if (plan.Notice.isEmpty() && plan.Refusal.isEmpty()) {
        EXPECT_EQ(plan.Call, e.call) << what;
    }
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
          {{"Копировать файла \"/pc/Прог.prg\" в контроллер?", mrYes}},
          {{{"Файл \"Прог.prg\" уже есть в контроллере. Перезаписать его?", mrNo}, 0}},
          {TCallKind::PutFile, {"/pc/Прог.prg"}, {}, {"Прог.prg"}, kCopyWait}}},
        {"a character the controller lacks", Pc("ü.txt"),
         {"", "Имя файла \"ü.txt\" содержит знаки, которых нет в кодировке имён контроллера "
              "(Windows-1251). Переименуйте файл."}},
        {"a colon in a POSIX name", Pc("a:b.txt"), {"", "Недопустимое имя файла: \"/pc/a:b.txt\""}},
        {"one bad name among several", Pc({"new.txt", "a:b.txt"}), {"", "Недопустимое имя файла: \"/pc/a:b.txt\""}},
        {"several to the controller", Pc({"Прог.prg", "new.txt", "a.txt"}),
         {"",
          "",
          {{"Копировать 3 файла в контроллер?", mrYes}},
          {{{"Файл \"Прог.prg\" уже есть в контроллере. Перезаписать его?", mrNo, true}, 0},
           {{"Файл \"a.txt\" уже есть в контроллере. Перезаписать его?", mrNo, true}, 2}},
          {TCallKind::PutFile, {"/pc/Прог.prg", "/pc/new.txt", "/pc/a.txt"}, {}, {"Прог.prg", "new.txt", "a.txt"}, kCopyWait}}},
        {"to the PC", Plc(kYolka),
         {"",
          "",
          {{"Копировать файла \"Ёлка.txt\" в папку \"/pc\"?", mrYes}},
          {},
          {TCallKind::GetFile, {"/pc/Ёлка.txt"}, {kYolka.Bytes}, {"Ёлка.txt"}, kCopyWait}}},
        {"to the PC over a file there", Plc(kIlka),
         {"",
          "",
          {{"Копировать файла \"илка.txt\" в папку \"/pc\"?", mrYes}},
          {{{"Файл \"/pc/илка.txt\" уже существует. Перезаписать его?", mrNo}, 0}},
          {TCallKind::GetFile, {"/pc/илка.txt"}, {kIlka.Bytes}, {"илка.txt"}, kCopyWait}}},
        {"several to the PC", Plc({kYolka, kIlka}),
         {"",
          "",
          {{"Копировать 2 файла в папку \"/pc\"?", mrYes}},
          {{{"Файл \"/pc/илка.txt\" уже существует. Перезаписать его?", mrNo, true}, 1}},
          {TCallKind::GetFile, {"/pc/Ёлка.txt", "/pc/илка.txt"}, {kYolka.Bytes, kIlka.Bytes},
           {"Ёлка.txt", "илка.txt"}, kCopyWait}}},
        {"to the PC without a folder", noFolder, {"", "Папка на ПК не выбрана!"}},
    };
    for (const Case &c : cases)
        Check(planner.Copy(c.selection), c.expected, c.what);
    const QString deleting = "Подождите. Идет удаление…";
    Check(planner.Delete(Plc(kYolka)),
          {"", "", {{"Удалить файла \"Ёлка.txt\"?", mrNo}}, {}, {TCallKind::DelFile, {}, {kYolka.Bytes}, {"Ёлка.txt"}, deleting}},
          "a delete");
    Check(planner.Delete(Plc({kA, kYolka})),
          {"", "", {{"Удалить 2 файла?", mrNo}}, {}, {TCallKind::DelFile, {}, {kA.Bytes, kYolka.Bytes}, {"a.txt", "Ёлка.txt"}, deleting}},
          "a delete of two");
}

// One question names how many files a delete of several takes, in Russian's three plural forms.
TEST_F(ActionPlanTest, SeveralFilesAreCountedInWords)
{
    const std::pair<int, QString> cases[] = {{2, "2 файла"},   {4, "4 файла"},   {5, "5 файлов"},
                                             {11, "11 файлов"}, {12, "12 файлов"}, {21, "21 файл"},
                                             {22, "22 файла"},  {111, "111 файлов"}, {101, "101 файл"}};
    for (const auto &[n, words] : cases) {
        TPlcNames names;
        for (int i = 0; i < n; ++i)
            names.append(Name("f" + QByteArray::number(i)));
        const TPlan plan = planner.Delete(Plc(names));
        ASSERT_EQ(plan.Questions.size(), 1u);
        EXPECT_EQ(plan.Questions[0].Text, "Удалить " + words + "?");
        EXPECT_EQ(plan.Call.PlcNames.size(), n);
    }
}

// The answers to the overwrite questions decide which files the call keeps.
TEST_F(ActionPlanTest, OverwriteAnswersKeepOrLeaveOutEachFile)
{
    // Four files; the first, second and fourth would replace one.
    const TPlan plan = planner.Copy(Pc({"a.txt", "Прог.prg", "new.txt", "Ёлка.txt"}));
    ASSERT_EQ(plan.Overwrites.size(), 3u);
    struct Case {
        std::vector<int> answers;
        std::optional<QStringList> kept;
        size_t asked;
    };
    const Case cases[] = {
        {{mrNo}, std::nullopt, 1},
        {{mrYes, mrYes, mrNo, mrYes}, QStringList{"a.txt", "new.txt", "Ёлка.txt"}, 4},
        {{mrYes, mrYesToAll}, QStringList{"a.txt", "Прог.prg", "new.txt", "Ёлка.txt"}, 2},
        {{mrYes, mrYes, mrNoToAll}, QStringList{"a.txt", "new.txt"}, 3},
        {{mrYes, mrNo, mrNo, mrNo}, QStringList{"new.txt"}, 4},
        {{mrYes, mrYes, mrCancel}, std::nullopt, 3},
    };
    for (const Case &c : cases) {
        size_t asked = 0;
        const auto call = TActionPlanner::Decide(plan, [&](const TQuestion &) {
            return asked < c.answers.size() ? c.answers[asked++] : (++asked, int(mrCancel));
        });
        EXPECT_EQ(asked, c.asked) << c.answers.size();
        ASSERT_EQ(call.has_value(), c.kept.has_value()) << c.answers.size();
        if (call) {
            EXPECT_EQ(call->Shown, *c.kept);
            EXPECT_EQ(call->PcPaths.size(), c.kept->size());
        }
    }
    // A single file that the operator will not overwrite: nothing runs.
    const TPlan one = planner.Copy(Pc("a.txt"));
    int answer = 0;
    EXPECT_FALSE(TActionPlanner::Decide(one, [&](const TQuestion &) { return ++answer == 1 ? mrYes : mrNo; }));
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
