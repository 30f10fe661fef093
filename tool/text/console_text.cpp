#include "text/console_text.h"

#include <cstdio>
#include <string>

#include "platform/console.h"

namespace cabrix {

char* ToConsoleText(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    const auto b = static_cast<unsigned char>(*p);
    if (b >= 0xF0) {
      *p = static_cast<char>(b - 0x10);  // р..я
    } else if (b >= 0xC0) {
      *p = static_cast<char>(b - 0x40);  // А..п
    } else if (b == 0xB9) {
      *p = static_cast<char>(0xFC);  // №
    }
  }
  return text;
}

void PrintText(std::string_view cp1251) {
  std::string copy(cp1251.substr(0, cp1251.find('\0')));
  ToConsoleText(copy.data());
  platform::WriteConsoleText(copy);
}

namespace {
OperatorMessages g_operatorMessages = OperatorMessages::kMessageBox;
}  // namespace

void SetOperatorMessages(OperatorMessages mode) { g_operatorMessages = mode; }

void ShowOperatorMessage(std::string_view cp1251) {
  if (g_operatorMessages == OperatorMessages::kMessageBox) {
    platform::ShowMessageBox(cp1251);
    return;
  }
  std::string copy(cp1251.substr(0, cp1251.find('\0')));
  ToConsoleText(copy.data());
  copy.push_back('\n');
  std::fwrite(copy.data(), 1, copy.size(), stderr);
  std::fflush(stderr);
}

}  // namespace cabrix
