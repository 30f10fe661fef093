// A small Windows child for the front end's runner tests; the first argument picks what it does:
//   emit <stdout hex> <stderr hex> <exit status> [n]   writes the bytes raw (standard output's n
//                   times) and ends with the status
//   hang <text> [trap|ignore] [file]   writes the text and CR LF, then sleeps (a minute at
//                   most). With "trap" it watches its stop event "Local\cabrix-stop-<its process
//                   id>" as the console programs do: once it is set, it writes "stopping", takes
//                   300 ms to clean up, writes "stopped" and ends with STATUS_CONTROL_C_EXIT.
//                   The file is created once the event is there.
//   probe ...       writes, one per CR LF line: its whole command line as the system gave it,
//                   each argument as the start-up code split it, "--env--" and every entry of
//                   its environment block, then what its standard input is (none, its console or
//                   other) and whether its console window is shown
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Write(DWORD which, const std::string &bytes)
{
    DWORD done = 0;
    ::WriteFile(::GetStdHandle(which), bytes.data(), static_cast<DWORD>(bytes.size()), &done,
                nullptr);
}

std::string FromHex(const char *hex)
{
    std::string bytes;
    for (const char *p = hex; p[0] != '\0' && p[1] != '\0'; p += 2)
        bytes.push_back(static_cast<char>(std::strtol(std::string(p, 2).c_str(), nullptr, 16)));
    return bytes;
}

int Probe(int argc, char **argv)
{
    std::string text = std::string(::GetCommandLineA()) + "\r\n";
    for (int i = 2; i < argc; ++i)
        text += std::string(argv[i]) + "\r\n";
    text += "--env--\r\n";
    char *block = ::GetEnvironmentStringsA();
    for (const char *e = block; *e != '\0'; e += std::strlen(e) + 1)
        text += std::string(e) + "\r\n";
    ::FreeEnvironmentStringsA(block);
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE)
        text += "stdin:none\r\n";
    else if (::GetFileType(in) == FILE_TYPE_CHAR)
        text += "stdin:console\r\n";
    else
        text += "stdin:other\r\n";
    const HWND console = ::GetConsoleWindow();
    text += console != nullptr && ::IsWindowVisible(console) ? "console:shown\r\n"
                                                               : "console:hidden\r\n";
    Write(STD_OUTPUT_HANDLE, text);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "emit" && (argc == 5 || argc == 6)) {
        const std::string out = FromHex(argv[2]);
        for (long n = argc == 6 ? std::atol(argv[5]) : 1; n > 0; --n)
            Write(STD_OUTPUT_HANDLE, out);
        Write(STD_ERROR_HANDLE, FromHex(argv[3]));
        return std::atoi(argv[4]);
    }
    if (mode == "hang" && argc >= 3) {
        HANDLE stop = nullptr;
        if (argc > 3 && std::strcmp(argv[3], "trap") == 0) {
            const std::string name = "Local\\cabrix-stop-" + std::to_string(::GetCurrentProcessId());
            stop = ::CreateEventA(nullptr, TRUE, FALSE, name.c_str());
        }
        if (argc > 4)
            ::CloseHandle(::CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        Write(STD_OUTPUT_HANDLE, std::string(argv[2]) + "\r\n");
        if (stop == nullptr) {
            ::Sleep(60 * 1000);
            return 0;
        }
        if (::WaitForSingleObject(stop, 60 * 1000) != WAIT_OBJECT_0)
            return 0;
        Write(STD_OUTPUT_HANDLE, "stopping\r\n");
        ::Sleep(300);
        Write(STD_OUTPUT_HANDLE, "stopped\r\n");
        return static_cast<int>(0xC000013AUL); // STATUS_CONTROL_C_EXIT
    }
    if (mode == "probe")
        return Probe(argc, argv);
    return 98;
}
