#include "platform/stop_request.h"

#include <algorithm>
#include <string>

#include "platform/stop_request_win_p.h"

namespace cabrix::platform {

namespace {

// What a Windows console program ended by Ctrl+C reports.
constexpr UINT kControlCExit = 0xC000013A;

HANDLE g_event = nullptr;  // "Local\cabrix-stop-<pid>", manual-reset: once set, it stays set

BOOL WINAPI OnConsoleControl(DWORD type) {
  SetEvent(g_event);
  // After closing the console, logging off or shutting down, the system ends the program as soon
  // as this returns: the main thread gets the time to clean up and end on its own.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    Sleep(5000);
  }
  return TRUE;
}

}  // namespace

void InstallStopRequest() {
  if (g_event != nullptr) return;
  const std::string name = "Local\\cabrix-stop-" + std::to_string(GetCurrentProcessId());
  // Whichever side comes first creates it; the other opens the same event.
  g_event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  if (g_event != nullptr) SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool StopRequested() {
  return g_event != nullptr && WaitForSingleObject(g_event, 0) == WAIT_OBJECT_0;
}

bool WaitForStop(std::chrono::milliseconds wait) {
  const DWORD ms = static_cast<DWORD>(std::clamp<long long>(wait.count(), 0, INFINITE - 1));
  if (g_event == nullptr) {
    Sleep(ms);
    return false;
  }
  return WaitForSingleObject(g_event, ms) == WAIT_OBJECT_0;
}

void EndByStopRequest() { ExitProcess(kControlCExit); }

HANDLE StopEventHandle() { return g_event; }

}  // namespace cabrix::platform
