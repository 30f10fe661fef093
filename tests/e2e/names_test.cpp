// Names with letters beyond ASCII from a POSIX PC: the controller keeps Windows-1251 bytes, the PC
// keeps UTF-8 names, and the console shows the controller's bytes through code page 866, as the
// Windows tool does.
#include <iconv.h>

#include <stdexcept>

#include "e2e/e2e_fixture.h"

namespace cabrix::e2e {
namespace {

// The UTF-8 form of Windows-1251 bytes, by the C library's own table; 0x98, which that table
// leaves out, is U+0098.
std::string Utf8Of(std::string_view cp1251) {
  const iconv_t cd = ::iconv_open("UTF-8", "CP1251");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP1251 in iconv");
  std::string out;
  for (const char byte : cp1251) {
    if (static_cast<unsigned char>(byte) == 0x98) {
      out += "\xC2\x98";
      continue;
    }
    char in[1] = {byte};
    char buf[8];
    char* inPtr = in;
    char* outPtr = buf;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof buf;
    if (::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      ::iconv_close(cd);
      throw std::runtime_error("iconv");
    }
    out.append(buf, outPtr);
  }
  ::iconv_close(cd);
  return out;
}

// What the console shows of Windows-1251 bytes: the letters А..я at their code page 866 places,
// № as 0xFC, every other byte as it is.
std::string Shown(std::string bytes) {
  for (char& c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0xF0) {
      c = static_cast<char>(b - 0x10);
    } else if (b >= 0xC0) {
      c = static_cast<char>(b - 0x40);
    } else if (b == 0xB9) {
      c = static_cast<char>(0xFC);
    }
  }
  return bytes;
}

using Names = OverEachLink;

TEST_P(Names, EveryWindows1251ByteGoesUpIsListedComesBackAndIsDeleted) {
  CABRIX_SKIP_UNDER_WINE("the Windows tool takes its names in the ANSI code page as they are");
  SimProcess& sim = StartSim();
  // Eight names of sixteen bytes each hold every byte from 0x80 to 0xFF.
  std::vector<std::string> controller;
  std::vector<std::string> pc;
  std::vector<std::string> args = {LinkSwitch(), FolderSwitch(), "/up"};
  std::string writing;
  std::string reading;
  std::string deleting;
  for (int group = 0; group < 8; ++group) {
    std::string name;
    for (int b = 0; b < 16; ++b) name += static_cast<char>(0x80 + group * 16 + b);
    name += ".bin";
    controller.push_back(name);
    pc.push_back(Utf8Of(name));
    test::WriteFileBytes(Pc(pc.back()), test::PatternBytes(200 + group, group));
    writing += Cp866("Запись файла: ") + Shown(name) + "   0%\r\n";
    reading += Cp866("Чтение файла: ") + Shown(name) + ": |" + Cp866("успешно считан\r\n");
    deleting += Cp866("удаление файла ") + Shown(name) + "\r\n";
  }
  args.insert(args.end(), pc.begin(), pc.end());
  const ToolRun up = Run(args, 60s);
  ASSERT_TRUE(up.ExitedWith(0)) << up.Describe() << sim.Log();
  EXPECT_EQ(up.out, writing);
  for (int group = 0; group < 8; ++group) {
    EXPECT_EQ(test::ReadFileBytes(sim.Store() / controller[group]),
              test::PatternBytes(200 + group, group));
  }

  const ToolRun dir = Run({LinkSwitch(), "/dir"});
  for (const std::string& name : controller) {
    EXPECT_NE(dir.out.find(Shown(name) + "\r\r\n"), std::string::npos) << dir.Describe();
  }

  fs::create_directory(Pc("back"));
  args = {LinkSwitch(), "/FLDR" + Pc("back").string(), "/dn"};
  args.insert(args.end(), pc.begin(), pc.end());
  const ToolRun dn = Run(args, 60s);
  ASSERT_TRUE(dn.ExitedWith(0)) << dn.Describe() << sim.Log();
  EXPECT_EQ(dn.out, reading);
  for (int group = 0; group < 8; ++group) {
    EXPECT_EQ(test::ReadFileBytes(Pc("back") / pc[group]), test::PatternBytes(200 + group, group));
  }

  args = {LinkSwitch(), "/del"};
  args.insert(args.end(), pc.begin(), pc.end());
  const ToolRun del = Run(args);
  EXPECT_TRUE(del.ExitedWith(1)) << del.Describe();
  EXPECT_EQ(del.out, deleting);
  EXPECT_TRUE(fs::is_empty(sim.Store())) << sim.Log();

  // A name that is no UTF-8 is Windows-1251 already: it is asked for as it is, and the file
  // lands under its UTF-8 form.
  const std::string raw = Cp1251("Привет.txt");
  test::WriteFileBytes(sim.Store() / raw, "hello");
  const ToolRun rawDn = Run({LinkSwitch(), FolderSwitch(), "/dn", raw});
  EXPECT_TRUE(rawDn.ExitedWith(0)) << rawDn.Describe();
  EXPECT_EQ(test::ReadFileBytes(Pc("Привет.txt")), "hello");
  EXPECT_TRUE(Run({LinkSwitch(), "/del", raw}).ExitedWith(1));
  EXPECT_FALSE(fs::exists(sim.Store() / raw));
}

TEST_P(Names, ANameWithACharacterOutsideWindows1251IsRefusedWithNothingSent) {
  CABRIX_SKIP_UNDER_WINE("the Windows tool takes its names in the ANSI code page as they are");
  SimProcess& sim = StartSim();
  const std::string name = "Ωmega.txt";
  test::WriteFileBytes(Pc(name), "data");
  const std::string refused = Cp866("Недопустимый символ в имени файла: ") + "?mega.txt\r\n";
  // As for a name too long for the frames: the upload and the download pass the file over,
  // the delete leaves it undeleted.
  const struct {
    const char* action;
    int status;
  } rows[] = {{"/up", 1}, {"/dn", 1}, {"/del", 100}};
  for (const auto& row : rows) {
    const ToolRun r = Run({LinkSwitch(), FolderSwitch(), row.action, name});
    EXPECT_TRUE(r.ExitedWith(row.status)) << row.action << ": " << r.Describe();
    EXPECT_EQ(r.out, refused) << row.action;
  }
  EXPECT_EQ(sim.Log().find(" recv "), std::string::npos) << sim.Log();
  EXPECT_EQ(test::ReadFileBytes(Pc(name)), "data");
}

CABRIX_E2E_OVER_EACH_LINK(Names);

}  // namespace
}  // namespace cabrix::e2e
