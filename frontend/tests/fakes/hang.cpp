// Fake console program that never ends by itself: prints its first argument and a line end, then
// sleeps (for at most a minute, so that a stray copy cannot outlive a test run for long).
#include <cstdio>

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc > 1) {
        std::fputs(argv[1], stdout);
        std::fputs("\r\n", stdout);
        std::fflush(stdout);
    }
    for (int i = 0; i < 600; ++i)
        ::usleep(100 * 1000);
    return 0;
}
