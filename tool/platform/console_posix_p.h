// POSIX only: the pieces of the console that decide what bytes go out.
#pragma once

#include <string>
#include <string_view>

#include "platform/console.h"

namespace cabrix::platform {

// Text-stream output: every line feed becomes CR LF; a CR already there stays.
std::string ToTextStream(std::string_view text);

// Whether a locale set up from these variables (the first one set and not empty decides, as
// for setlocale) uses UTF-8. Null or empty variables count as unset.
bool LocaleIsUtf8(const char* lcAll, const char* lcCtype, const char* lang);

// The sequence that brings the cursor from the saved place to `pos`: restore, then left or
// right by the column, up or down by the row.
std::string MoveFromSavedCursor(ConsolePos pos);

}  // namespace cabrix::platform
