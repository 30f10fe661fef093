// The request to stop that reaches a console program from outside: on POSIX the signals SIGTERM,
// SIGINT and SIGHUP; on Windows the named event "Local\cabrix-stop-<pid>" (<pid> the program's
// own process id in decimal), which the front end sets, and the console control events (Ctrl+C,
// Ctrl+Break, closing the console).
//
// Once asked, a program stays asked: every transport call fails with the stop code from then on,
// every wait of the platform layer (a serial read or write, a TCP connect or receive, WaitForStop)
// ends within a moment, and the program ends as EndByStopRequest says once it has cleaned up.
// Nothing but the program's main thread calls these.
#pragma once

#include <chrono>

namespace cabrix::platform {

// Starts listening for the request; called once at start-up, before anything else is done. On
// POSIX a signal that was ignored when the program started stays ignored.
void InstallStopRequest();

// Whether the program has been asked to stop.
bool StopRequested();

// Waits `wait`, or less when the program is asked to stop. True when it has been asked.
bool WaitForStop(std::chrono::milliseconds wait);

// Ends the program as one stopped from outside ends: on POSIX by the signal that asked for the
// stop, with its default action, so that the parent sees it; on Windows with exit status
// 0xC000013A (STATUS_CONTROL_C_EXIT). Only once StopRequested() is true; standard output should
// have been flushed.
[[noreturn]] void EndByStopRequest();

}  // namespace cabrix::platform
