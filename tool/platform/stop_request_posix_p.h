// POSIX only: how the blocking calls of the platform layer learn of a stop request.
#pragma once

namespace cabrix::platform {

// A descriptor that becomes readable, and stays so, once the program is asked to stop: poll it
// beside the descriptor waited for. -1 before InstallStopRequest.
int StopWakeFd();

// The connected socket whose blocking receive or send a stop request is to end (the request
// shuts it down), or -1 for none. One socket at a time: a program has one connection open.
void WatchSocketForStop(int fd);
// Forgets `fd` if it is the watched socket; called before it is closed.
void UnwatchSocketForStop(int fd);

}  // namespace cabrix::platform
