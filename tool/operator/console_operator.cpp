#include "operator/console_operator.h"

#include <algorithm>
#include <cstdio>

#include "platform/console.h"
#include "text/console_text.h"
#include "text/messages.h"

namespace cabrix {

namespace {

constexpr char kSpinner[] = {'|', '\\', '-', '/', '-'};

}  // namespace

CConsoleOperator::CConsoleOperator(platform::Console console) : m_console(console) {}

void CConsoleOperator::FileStarts(TransferKind kind, std::string_view name) {
  // The figure takes the place of the line's last characters: "  0%" or "|".
  const bool write = kind == TransferKind::kWrite;
  m_spinPhase = 0;
  PrintText((write ? msg::kWriting.str() : msg::kReading.str()) + std::string(name) +
            (write ? "   0%" : ": |"));
  if (const auto pos = m_console.CursorPosition()) {
    m_cursor = {static_cast<std::int16_t>(pos->column - (write ? 3 : 1)), pos->row};
  }
}

void CConsoleOperator::Progress(const TransferProgress& progress) {
  if (progress.kind == TransferKind::kRead) {
    // The bar turns once per frame asked for; the closing report, with the length, moves nothing.
    if (!progress.bytesInAll) StepSpinner();
    return;
  }
  // Counted in block frames against one frame per 128 file bytes and one more: the file-header
  // frame and the later segments' headers make a long file pass 100 before its end.
  const std::uint64_t total = progress.bytesInAll.value_or(0) / 128 + 1;
  ShowPercent(static_cast<int>(progress.frames * 100 / total));
}

void CConsoleOperator::FileEnds(TransferKind kind, std::string_view /*name*/, bool done) {
  // A failed transfer's line stays as it is, without its line end.
  if (!done) return;
  if (kind == TransferKind::kWrite) {
    ShowPercent(100);
    PrintText("\n");
  } else {
    PrintText(msg::kReadDone.view());
  }
}

void CConsoleOperator::Message(MessageKind kind, std::string_view textCp1251) {
  if (kind == MessageKind::kAlert) {
    platform::ShowMessageBox(textCp1251);
  } else {
    PrintText(textCp1251);
  }
}

void CConsoleOperator::ShowPercent(int percent) {
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%3i%%", percent);
  m_console.WriteAt(m_cursor, std::string_view(text, static_cast<std::size_t>(std::max(n, 0))));
}

void CConsoleOperator::StepSpinner() {
  m_spinPhase = (m_spinPhase + 1) % 5;
  m_console.WriteAt(m_cursor, std::string_view(&kSpinner[m_spinPhase], 1));
}

}  // namespace cabrix
