// Windows only: how the waits of the platform layer learn of a stop request.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace cabrix::platform {

// The event that is set once the program is asked to stop, to wait for beside what a call waits
// for; null before InstallStopRequest.
HANDLE StopEventHandle();

}  // namespace cabrix::platform
