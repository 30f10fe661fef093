// Fake console program that never ends by itself: prints its first argument and a line end, then
// sleeps (for at most a minute, so that a stray copy cannot outlive a test run for long).
//   hang <text>          SIGTERM ends it at once, as the system's default has it
//   hang <text> trap     on SIGTERM it prints "stopping", takes 300 ms to clean up, prints
//                        "stopped" and ends by the signal, as the console programs do
//   hang <text> ignore   SIGTERM is ignored: only a kill ends it
//   hang <text> tick     writes "tick <i>" to standard error every 200 ms, i from 1 to 10, then
//                        ends with status 0
// A fourth argument names a file that is created once the signal is set up.
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnTerm(int) { g_stop = 1; }

void Say(const char *text) { ssize_t ignored = ::write(1, text, std::strlen(text)); (void)ignored; }

} // namespace

int main(int argc, char **argv)
{
    const char *mode = argc > 2 ? argv[2] : "";
    if (std::strcmp(mode, "trap") == 0)
        std::signal(SIGTERM, OnTerm);
    else if (std::strcmp(mode, "ignore") == 0)
        std::signal(SIGTERM, SIG_IGN);
    if (argc > 3)
        ::close(::open(argv[3], O_WRONLY | O_CREAT, 0600));
    if (argc > 1) {
        Say(argv[1]);
        Say("\r\n");
    }
    if (std::strcmp(mode, "tick") == 0) {
        for (int i = 1; i <= 10; ++i) {
            ::usleep(200 * 1000);
            char line[32];
            const int n = std::snprintf(line, sizeof line, "tick %d\r\n", i);
            ssize_t ignored = ::write(2, line, static_cast<size_t>(n));
            (void)ignored;
        }
        return 0;
    }
    for (int i = 0; i < 600 && g_stop == 0; ++i)
        ::usleep(100 * 1000);
    if (g_stop != 0) {
        Say("stopping\r\n");
        ::usleep(300 * 1000);
        Say("stopped\r\n");
        std::signal(SIGTERM, SIG_DFL);
        std::raise(SIGTERM);
    }
    return 0;
}
