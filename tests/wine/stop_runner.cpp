// Stops a console program the way the front end does on Windows, for tests/wine/stop_smoke.sh:
//   stop_runner.exe FOLDER COMMAND-LINE
// starts COMMAND-LINE, opens the event "Local\cabrix-stop-<pid>" for it, waits (at most 30 s)
// until the program has a temporary file (.cbx*) in FOLDER, sets the event and waits at most
// 10 s for the program to end. It writes "exit 0x<status> after <ms> ms" on standard error (the
// program has standard output) and ends with 0, or writes what went wrong, ends the program and
// ends with 1.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool HasTemporaryFile(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA((folder + "\\.cbx*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return false;
  FindClose(find);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: stop_runner FOLDER COMMAND-LINE\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::string commandLine = argv[2];
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &child)) {
    std::fprintf(stderr, "cannot start: error %lu\n", GetLastError());
    return 1;
  }
  const std::string name = "Local\\cabrix-stop-" + std::to_string(child.dwProcessId);
  const HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, name.c_str());

  const DWORD waitStart = GetTickCount();
  while (!HasTemporaryFile(folder)) {
    if (GetTickCount() - waitStart > 30000 ||
        WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0) {
      std::fprintf(stderr, "no temporary file appeared\n");
      TerminateProcess(child.hProcess, 1);
      return 1;
    }
    Sleep(10);
  }
  const DWORD stopStart = GetTickCount();
  SetEvent(stop);
  if (WaitForSingleObject(child.hProcess, 10000) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "still running 10 s after the stop\n");
    TerminateProcess(child.hProcess, 1);
    return 1;
  }
  DWORD status = 0;
  GetExitCodeProcess(child.hProcess, &status);
  std::fprintf(stderr, "exit 0x%08lX after %lu ms\n", status, GetTickCount() - stopStart);
  return 0;
}
