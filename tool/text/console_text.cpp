#include "text/console_text.h"

#include "codepage/codepage.h"
#include "platform/console.h"

namespace cabrix {

void PrintText(std::string_view cp1251) { platform::WriteConsoleText(ConsoleTextOf(cp1251)); }

}  // namespace cabrix
