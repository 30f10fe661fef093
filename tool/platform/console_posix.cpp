#include "platform/console.h"

#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "codepage/codepage.h"
#include "platform/console_posix_p.h"
#include "platform/stop_request_posix_p.h"

namespace cabrix::platform {

namespace {

bool NamesUtf8(std::string_view name) {
  std::string lower;
  for (const char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
}

// A terminal that shows UTF-8 is treated as a console that shows code page 866: its text is
// transcoded at the very last step. Asked at every write, as the answer is cheap and a forked
// child may have another standard output than its parent.
bool IsUtf8Terminal(int fd) {
  return ::isatty(fd) == 1 &&
         LocaleIsUtf8(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
}

void Put(std::FILE* stream, std::string_view cp866, bool utf8) {
  if (utf8) {
    const std::string text = Cp866ToUtf8(cp866);
    std::fwrite(text.data(), 1, text.size(), stream);
  } else {
    std::fwrite(cp866.data(), 1, cp866.size(), stream);
  }
}

}  // namespace

std::string ToTextStream(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

bool LocaleIsUtf8(const char* lcAll, const char* lcCtype, const char* lang) {
  for (const char* name : {lcAll, lcCtype, lang}) {
    if (name != nullptr && *name != '\0') return NamesUtf8(name);
  }
  return false;
}

std::string MoveFromSavedCursor(ConsolePos pos) {
  std::string seq = "\x1b" "8";
  const int column = pos.column;
  const int row = pos.row;
  if (column < 0) seq += "\x1b[" + std::to_string(-column) + "D";
  if (column > 0) seq += "\x1b[" + std::to_string(column) + "C";
  if (row < 0) seq += "\x1b[" + std::to_string(-row) + "A";
  if (row > 0) seq += "\x1b[" + std::to_string(row) + "B";
  return seq;
}

void WriteConsoleText(std::string_view cp866) {
  Put(stdout, ToTextStream(cp866), IsUtf8Terminal(STDOUT_FILENO));
}

void WriteRawOutput(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

void FlushConsoleText() { std::fflush(stdout); }

Console Console::StandardOutput() { return Console(::isatty(STDOUT_FILENO) == 1); }

// Positions are relative to the place where this was asked: the terminal saves it (ESC 7), and
// WriteAt starts each write from there (ESC 8).
std::optional<ConsolePos> Console::CursorPosition() const {
  if (!m_isConsole) return std::nullopt;
  std::fflush(stdout);
  std::fputs("\x1b" "7", stdout);
  std::fflush(stdout);
  return ConsolePos{};
}

void Console::WriteAt(ConsolePos pos, std::string_view text) const {
  if (!m_isConsole) return;
  const std::string move = MoveFromSavedCursor(pos);
  std::fwrite(move.data(), 1, move.size(), stdout);
  Put(stdout, text, IsUtf8Terminal(STDOUT_FILENO));
  std::fflush(stdout);
}

// The box becomes its text on standard error, in the console's code page, ending the line.
// Only an operator at a terminal can answer it, so only then does it wait for Enter.
void ShowMessageBox(std::string_view textCp1251) {
  std::fflush(stdout);
  Put(stderr, ToTextStream(ConsoleTextOf(textCp1251)) + "\r\n", IsUtf8Terminal(STDERR_FILENO));
  std::fflush(stderr);
  if (::isatty(STDIN_FILENO) != 1) return;
  // Until Enter, the end of the input, or a stop request.
  for (;;) {
    pollfd p[2] = {{STDIN_FILENO, POLLIN, 0}, {StopWakeFd(), POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents != 0) return;
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') return;
  }
}

}  // namespace cabrix::platform
