#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "codepage/codepage.h"
#include "platform/console.h"

namespace cabrix::platform {

namespace {

// The program's file name without folder and extension, as the message boxes' title.
std::string ProgramName() {
  char path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, n);
  const std::size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name.empty() ? std::string("cabrix") : name;
}

}  // namespace

// Standard output is the runtime's text stream: it turns every line feed into CR LF on its own.
void WriteConsoleText(std::string_view cp866) {
  if (!cp866.empty()) std::fwrite(cp866.data(), 1, cp866.size(), stdout);
}

// Past the runtime's text stream, which would turn a CR LF into CR CR LF.
void WriteRawOutput(std::string_view bytes) {
  std::fflush(stdout);
  const HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  while (!bytes.empty()) {
    DWORD put = 0;
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
    if (!WriteFile(h, bytes.data(), size, &put, nullptr) || put == 0) return;
    bytes.remove_prefix(put);
  }
}

void FlushConsoleText() { std::fflush(stdout); }

Console Console::StandardOutput() {
  const HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  const bool isConsole = h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
  return Console(isConsole);
}

std::optional<ConsolePos> Console::CursorPosition() const {
  // What is still buffered belongs before the cursor.
  std::fflush(stdout);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return std::nullopt;
  return ConsolePos{info.dwCursorPosition.X, info.dwCursorPosition.Y};
}

void Console::WriteAt(ConsolePos pos, std::string_view text) const {
  if (!m_isConsole) return;
  const HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  std::fflush(stdout);
  SetConsoleCursorPosition(h, COORD{pos.column, pos.row});
  DWORD written = 0;
  WriteConsoleA(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Standard error is the runtime's text stream too: the line feed goes out as CR LF.
void WriteErrorLine(std::string_view textCp1251) {
  std::fflush(stdout);
  const std::string line = ConsoleTextOf(textCp1251) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void ShowMessageBox(std::string_view textCp1251) {
  // The text goes to the box as it is: the system shows it in the ANSI code page, which is
  // Windows-1251 on the operators' PCs.
  const std::string text(textCp1251.substr(0, textCp1251.find('\0')));
  const std::string title = ProgramName();
  // What was printed before the box is on the screen while the box waits.
  std::fflush(stdout);
  MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK);
}

}  // namespace cabrix::platform
