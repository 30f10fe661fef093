#include "text/console_text.h"

#include <cstdio>
#include <string>

#include "codepage/codepage.h"
#include "platform/console.h"

namespace cabrix {

void PrintText(std::string_view cp1251) { platform::WriteConsoleText(ConsoleTextOf(cp1251)); }

namespace {
OperatorMessages g_operatorMessages = OperatorMessages::kMessageBox;
}  // namespace

void SetOperatorMessages(OperatorMessages mode) { g_operatorMessages = mode; }

void ShowOperatorMessage(std::string_view cp1251) {
  if (g_operatorMessages == OperatorMessages::kMessageBox) {
    platform::ShowMessageBox(cp1251);
    return;
  }
  std::string copy = ConsoleTextOf(cp1251);
  copy.push_back('\n');
  std::fwrite(copy.data(), 1, copy.size(), stderr);
  std::fflush(stderr);
}

}  // namespace cabrix
