// Console text: every text the tool shows is Windows-1251 and is converted to code page 866
// just before it is written to standard output.
#pragma once

#include <string>
#include <string_view>

namespace cabrix {

// Converts a copy of a Windows-1251 text (up to its first zero byte) with ToConsoleText
// (codepage/codepage.h) and writes it to standard output byte for byte. Nothing in the text is
// taken as a format.
void PrintText(std::string_view cp1251);

}  // namespace cabrix
