// The console: code page 866 transcoding, and what reaches standard output and standard error
// of a child process whose outputs are pipes or pseudo-terminals.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/console.h"
#include "platform/console_posix_p.h"

namespace cabrix::platform {
namespace {

using Clock = std::chrono::steady_clock;

// "Параметры:" in code page 866, and in Windows-1251 "Порт занят!" with № and Ё.
constexpr char kParams866[] = "\x8F\xA0\xE0\xA0\xAC\xA5\xE2\xE0\xEB:";
constexpr char kBusy1251[] = "\xCF\xEE\xF0\xF2 \xE7\xE0\xED\xFF\xF2! \xB9\xA8";
constexpr char kBusy866[] = "\x8F\xAE\xE0\xE2 \xA7\xA0\xAD\xEF\xE2! \xFC\xA8";

TEST(ConsoleLocale, FirstSetVariableDecides) {
  EXPECT_TRUE(LocaleIsUtf8(nullptr, nullptr, "C.UTF-8"));
  EXPECT_TRUE(LocaleIsUtf8("", "ru_RU.utf8", "C"));
  EXPECT_FALSE(LocaleIsUtf8("C", nullptr, "en_US.UTF-8"));
  EXPECT_FALSE(LocaleIsUtf8(nullptr, nullptr, "ru_RU.CP866"));
  EXPECT_FALSE(LocaleIsUtf8(nullptr, nullptr, nullptr));
}

// A child process with its standard streams set up as asked, running `body`; its exit status
// is what body returns.
struct ChildSetup {
  bool stdoutIsTerminal = false;
  bool stdinIsTerminal = false;
  const char* lang = "C.UTF-8";
};

class Child {
 public:
  Child(const ChildSetup& setup, const std::function<int()>& body) {
    int outPipe[2], errPipe[2];
    EXPECT_EQ(::pipe(outPipe), 0);
    EXPECT_EQ(::pipe(errPipe), 0);
    int outSlave = -1, inSlave = -1;
    if (setup.stdoutIsTerminal) {
      EXPECT_EQ(::openpty(&m_outMaster, &outSlave, nullptr, nullptr, nullptr), 0);
      termios raw{};
      ::tcgetattr(outSlave, &raw);
      ::cfmakeraw(&raw);  // the bytes as written, no CR added by the terminal
      ::tcsetattr(outSlave, TCSANOW, &raw);
    }
    if (setup.stdinIsTerminal) {
      EXPECT_EQ(::openpty(&m_inMaster, &inSlave, nullptr, nullptr, nullptr), 0);
    }
    m_pid = ::fork();
    if (m_pid == 0) {
      ::unsetenv("LC_ALL");
      ::unsetenv("LC_CTYPE");
      ::setenv("LANG", setup.lang, 1);
      ::dup2(setup.stdoutIsTerminal ? outSlave : outPipe[1], STDOUT_FILENO);
      ::dup2(errPipe[1], STDERR_FILENO);
      ::dup2(setup.stdinIsTerminal ? inSlave : ::open("/dev/null", O_RDONLY), STDIN_FILENO);
      const int status = body();
      std::fflush(stdout);
      ::_exit(status);
    }
    m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    m_out = setup.stdoutIsTerminal ? m_outMaster : outPipe[0];
    m_err = errPipe[0];
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (setup.stdoutIsTerminal) ::close(outPipe[0]);
    if (outSlave >= 0) ::close(outSlave);
    if (inSlave >= 0) ::close(inSlave);
  }
  ~Child() {
    if (!m_exited) {
      ::kill(m_pid, SIGKILL);
      Wait(1000);
    }
    for (int fd : {m_out, m_err, m_inMaster, m_pidFd}) {
      if (fd >= 0) ::close(fd);
    }
  }

  // Everything the child writes to standard output or standard error until it ends them; at
  // most a few seconds.
  std::string ReadAll(bool fromStderr) { return Read(fromStderr ? m_err : m_out, SIZE_MAX); }
  std::string ReadSome(bool fromStderr, std::size_t count) {
    return Read(fromStderr ? m_err : m_out, count);
  }
  void TypeIntoStdin(const std::string& text) {
    EXPECT_EQ(::write(m_inMaster, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // The exit status, or -1 when the child has not ended within timeoutMs.
  int Wait(int timeoutMs) {
    pollfd p{m_pidFd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return -1;
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_exited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  }

 private:
  static std::string Read(int fd, std::size_t count) {
    std::string out;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    char buf[1024];
    while (out.size() < count && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 1000) != 1) continue;
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;  // end of the pipe, or EIO once the terminal's last user is gone
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }

  pid_t m_pid = -1;
  int m_pidFd = -1, m_out = -1, m_err = -1, m_outMaster = -1, m_inMaster = -1;
  bool m_exited = false;
};

TEST(ConsoleOutput, CapturedOutputIsCp866WithCrLfAndNothingElse) {
  Child child({.stdoutIsTerminal = false}, [] {
    WriteConsoleText(std::string(kParams866) + "\n");
    WriteConsoleText("line\r\n");
    const Console console = Console::StandardOutput();
    const bool quiet = !console.IsConsole() && !console.CursorPosition();
    console.WriteAt({3, -1}, "50%");
    WriteConsoleText("%d%%");
    return quiet ? 0 : 1;
  });
  EXPECT_EQ(child.ReadAll(false), std::string(kParams866) + "\r\nline\r\r\n%d%%");
  EXPECT_EQ(child.Wait(5000), 0);
}

TEST(ConsoleOutput, Utf8TerminalShowsTheLettersThemselves) {
  Child child({.stdoutIsTerminal = true}, [] {
    WriteConsoleText(std::string(kParams866) + "\n");
    return Console::StandardOutput().IsConsole() ? 0 : 1;
  });
  EXPECT_EQ(child.ReadAll(false), "Параметры:\r\n");
  EXPECT_EQ(child.Wait(5000), 0);
}

TEST(ConsoleOutput, OtherTerminalsGetTheCp866Bytes) {
  Child child({.stdoutIsTerminal = true, .lang = "C"}, [] {
    WriteConsoleText(std::string(kParams866) + "\n");
    return 0;
  });
  EXPECT_EQ(child.ReadAll(false), std::string(kParams866) + "\r\n");
  EXPECT_EQ(child.Wait(5000), 0);
}

TEST(ConsoleOutput, ProgressIsDrawnRelativeToTheSavedCursor) {
  Child child({.stdoutIsTerminal = true}, [] {
    WriteConsoleText("copy ");  // still buffered: must go out before the cursor is saved
    const Console console = Console::StandardOutput();
    const std::optional<ConsolePos> pos = console.CursorPosition();
    if (!pos) return 1;
    console.WriteAt({static_cast<std::int16_t>(pos->column - 3),
                     static_cast<std::int16_t>(pos->row + 2)}, "\xE0");
    console.WriteAt({12, -1}, "/");
    console.WriteAt(*pos, "7%");
    return 0;
  });
  EXPECT_EQ(child.ReadAll(false),
            "copy \x1b" "7"
            "\x1b" "8\x1b[3D\x1b[2Bр"
            "\x1b" "8\x1b[12C\x1b[1A/"
            "\x1b" "87%");
  EXPECT_EQ(child.Wait(5000), 0);
}

TEST(MessageBox, CapturedRunGetsTheTextOnStderrAndDoesNotWait) {
  Child child({.stdoutIsTerminal = false}, [] {
    ShowMessageBox(kBusy1251);
    return 0;
  });
  EXPECT_EQ(child.ReadAll(true), std::string(kBusy866) + "\r\n");
  EXPECT_EQ(child.ReadAll(false), "");
  EXPECT_EQ(child.Wait(5000), 0);
}

TEST(MessageBox, TerminalInputWaitsForEnter) {
  Child child({.stdinIsTerminal = true}, [] {
    ShowMessageBox(kBusy1251);
    return 0;
  });
  const std::string shown = std::string(kBusy866) + "\r\n";
  EXPECT_EQ(child.ReadSome(true, shown.size()), shown);
  EXPECT_EQ(child.Wait(200), -1);  // still waiting for the operator
  child.TypeIntoStdin("\n");
  EXPECT_EQ(child.Wait(5000), 0);
}

}  // namespace
}  // namespace cabrix::platform
