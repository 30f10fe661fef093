// Runs that need no controller: the help, the missing link or action, and switches without
// readable numbers.
#include <regex>

#include "e2e/e2e_fixture.h"

namespace cabrix::e2e {
namespace {

using CommandLine = E2eTest;

std::string ExpectedHelp(const std::string& buildTime) {
  return Cp866("Утилита чтения записи файлов с КАРДУС ПЛК. Версия 1.00\r\n"
               "Дата и время компиляции ") +
         buildTime + "\r\n" +
         Cp866("Параметры:\r\n"
               "\t/? - вызов справки\r\n"
               "\t/TCPxxx.xxx.xxx.xxx - адрес контроллера для TCP/IP.\r\n"
               "\tНапример /TCP10.0.6.10\r\n"
               "\t/COMxx - последовательный порт\r\n"
               "\t/up - загрузка файлов на ПЛК с ПК.\r\n"
               "\t/dn - чтение файла из ПЛК.\r\n"
               "\t/FLDR\"Name\" - целевая папка на ПК.\r\n"
               "\tВслучае отсутствия параметра берется текущая папка.\r\n"
               "\tСписок файлов должен быть представлен в виде имен файлов\r\n"
               "\t(БЕЗ УКАЗАНИЯ ПАПОК)в двойных ковычках с разделителем пробел.\r\n"
               "\t Пример:  \"file1.txt\" \"file2.txt\"\r\n\r\n");
}

// The build time from the help's second line: "Mmm dd yyyy  hh:mm:ss".
std::string BuildTimeOf(const std::string& help) {
  static const std::regex kLine(Cp866("Дата и время компиляции ") +
                                "([A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}  [0-9]{2}:[0-9]{2}:[0-9]{2})\r\n");
  std::smatch m;
  if (!std::regex_search(help, m, kLine)) return "(no build time line)";
  return m[1];
}

TEST_F(CommandLine, HelpWithoutArgumentsAndWithTheQuestionMarkAlone) {
  const ToolRun bare = Run({});
  ASSERT_TRUE(bare.ExitedWith(0)) << bare.Describe();
  EXPECT_EQ(bare.out, ExpectedHelp(BuildTimeOf(bare.out)));
  EXPECT_TRUE(ShowedBoxes(bare, {}));

  const ToolRun asked = Run({"/?"});
  ASSERT_TRUE(asked.ExitedWith(0)) << asked.Describe();
  EXPECT_EQ(asked.out, bare.out);
}

TEST_F(CommandLine, WithoutALinkNothingRuns) {
  const std::string noLink = Cp866("Не указаны сетевые параметры.\r\n");
  // "/?" beside another argument is a file name; so are the front end's /get and /info.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/?", "/dir"}, {"a.txt", "b.txt"}, {"/up", "a.txt"},
        {"/COM0", "/up", "a.txt"}, {"/inf", "/dir", "/del", "x"}, {"/tcp127.0.0.2", "/dn", "x"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ToolRun r = Run(args);
    EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
    EXPECT_EQ(r.out, noLink);
    EXPECT_TRUE(ShowedBoxes(r, {}));
  }
}

TEST_F(CommandLine, ALinkWithoutAnActionNamesTheMissingAction) {
  // An address that no simulator serves: no query asked for, so nothing is tried.
  const std::string link = "/TCP" + test::TestAddress();
  const std::string noAction = Cp866("Не указано дествие программы");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{link}, {link, "/FLDR/tmp", "/get", "a.txt"}, {link, "/info"},
        {"/TCP10.0.6"}, {link, "/Up", "/DIR", "a.txt"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ToolRun r = Run(args);
    EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
    EXPECT_EQ(r.out, noAction);
  }
}

TEST_F(CommandLine, AComSwitchWithoutANumberEndsTheRunAtOnce) {
  const std::string bad = Cp866("Неверно указан com порт, смотрите справку.");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/COM"}, {"/COMx", "/up", "a.txt"}, {"/COM", "/inf"},
        {"/TCP" + test::TestAddress(), "/COM", "/dir"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ToolRun r = Run(args);
    EXPECT_TRUE(r.ExitedWith(200)) << r.Describe();
    EXPECT_EQ(r.out, bad) << "nothing after the message, no newline";
  }
}

TEST_F(CommandLine, ATcpAddressWithFewerThanFourNumbersEndsTheRunSilently) {
  test::WriteFileBytes(Pc("a.txt"), "abc");
  for (const std::string action : {"/up", "/dn", "/del"}) {
    SCOPED_TRACE(action);
    const ToolRun r = Run({"/TCP10.0.6", action, "a.txt"});
    EXPECT_TRUE(r.ExitedWith(200)) << r.Describe();
    if (action == "/del") {
      // The delete has printed its first line before it reads the address.
      EXPECT_EQ(r.out, Cp866("удаление файла a.txt\r\n"));
    } else {
      EXPECT_EQ(r.out, "");
    }
  }
  const ToolRun q = Run({"/TCP10.0.6", "/inf"});
  EXPECT_TRUE(q.ExitedWith(200)) << q.Describe();
  EXPECT_EQ(q.out, "");
  EXPECT_EQ(test::ReadFileBytes(Pc("a.txt")), "abc");
}

TEST_F(CommandLine, ALinkWithAnEmptyListDoesNothingAndSucceeds) {
  const std::string link = "/TCP" + test::TestAddress();
  EXPECT_TRUE(Run({link, "/up"}).ExitedWith(0));
  EXPECT_TRUE(Run({link, "/dn"}).ExitedWith(0));
  const ToolRun del = Run({link, "/del"});
  EXPECT_TRUE(del.ExitedWith(1)) << del.Describe();
  EXPECT_EQ(del.out, "");
}

}  // namespace
}  // namespace cabrix::e2e
