// The tool's console: standard output as a text stream of code page 866 bytes, progress figures
// drawn at a remembered place on the console screen, and message boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace cabrix::platform {

// Writes code page 866 bytes to standard output as a text stream: every line feed goes out as
// CR LF, whatever standard output is. Where standard output is a terminal that shows UTF-8, the
// bytes are transcoded to UTF-8 at this last step. Output errors are ignored.
void WriteConsoleText(std::string_view cp866);

// Writes bytes to standard output exactly as they are: no line-end translation, no transcoding,
// after whatever text is buffered before them. Output errors are ignored.
void WriteRawOutput(std::string_view bytes);

// Pushes buffered standard output out.
void FlushConsoleText();

// A place on the console screen. On Windows it is the screen buffer position; on POSIX it is
// relative to the place where CursorPosition() was asked.
struct ConsolePos {
  std::int16_t column = 0;
  std::int16_t row = 0;
};

// The console behind standard output (GetStdHandle(STD_OUTPUT_HANDLE)). When standard output is
// not a console (a pipe, a file), every call here does nothing.
class Console {
 public:
  static Console StandardOutput();
  // No console: for a program that nobody watches at a screen.
  static Console None() { return Console(false); }

  // The cursor position right now, after pushing out buffered standard output; nullopt when
  // standard output is no console.
  std::optional<ConsolePos> CursorPosition() const;

  // Puts the cursor at `pos` and writes `text` there, straight to the console; the cursor then
  // stands after the text. Nothing happens when standard output is no console.
  void WriteAt(ConsolePos pos, std::string_view text) const;

  bool IsConsole() const { return m_isConsole; }

 private:
  explicit Console(bool isConsole) : m_isConsole(isConsole) {}
  bool m_isConsole = false;
};

// A modal message with an OK button, titled with the program's name. The text is Windows-1251.
// Returns once the operator has answered it (at once when nobody can answer).
void ShowMessageBox(std::string_view textCp1251);

}  // namespace cabrix::platform
