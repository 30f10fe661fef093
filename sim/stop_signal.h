// SIGINT and SIGTERM as a readable file descriptor, so that every wait of the simulator can end
// on them.
#pragma once

namespace plcsim {

// Installs the handlers (once) and returns the descriptor that becomes readable on a signal.
int InstallStopSignal();
bool StopSignalled();

}  // namespace plcsim
