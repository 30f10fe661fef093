// Console text: every text the tool shows is Windows-1251 and is converted to code page 866
// just before it is written to standard output.
#pragma once

#include <string>
#include <string_view>

namespace cabrix {

// Converts a zero-terminated Windows-1251 text in place to code page 866 and returns it.
// Letters А..я move to their code page 866 places, № becomes 0xFC; every other byte, Ё and ё
// included, stays as it is. The text ends at its first zero byte.
char* ToConsoleText(char* text);

// Converts a copy of a Windows-1251 text (up to its first zero byte) and writes it to standard
// output byte for byte. Nothing in the text is taken as a format.
void PrintText(std::string_view cp1251);

// How the tool tells its operator of a condition that wants an answer ("Порт занят!" and the
// like). The console tool shows a modal message box; a program that runs hidden under the front
// end, with nobody at its console, writes the text as a line on standard error instead and goes on.
enum class OperatorMessages { kMessageBox, kStandardError };
void SetOperatorMessages(OperatorMessages mode);
void ShowOperatorMessage(std::string_view cp1251);

}  // namespace cabrix
