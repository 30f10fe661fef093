// The operator at the console: the console tool's observer of its operations. A transfer's line
// goes to standard output ("Запись файла: <name>   0%", "Чтение файла: <name>: |"); its figure,
// the percentage of a write or the turning bar of a read, is redrawn on the console screen at the
// place the line left for it, never through standard output; an alert is a message box.
#pragma once

#include <cstdint>

#include "ops/observer.h"
#include "platform/console.h"

namespace cabrix {

class CConsoleOperator : public COperationObserver {
 public:
  // The console behind standard output; a program that runs hidden passes Console::None().
  explicit CConsoleOperator(platform::Console console = platform::Console::StandardOutput());

  void FileStarts(TransferKind kind, std::string_view name) override;
  void Progress(const TransferProgress& progress) override;
  void FileEnds(TransferKind kind, std::string_view name, bool done) override;
  void Message(MessageKind kind, std::string_view textCp1251) override;

 private:
  void ShowPercent(int percent);
  void StepSpinner();

  platform::Console m_console;
  platform::ConsolePos m_cursor{};
  int m_spinPhase = 0;
};

}  // namespace cabrix
