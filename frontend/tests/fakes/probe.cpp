// Fake console program that reports what it was given: every argument on a line of its own, then
// "--env--" and every environment entry, then whether standard input is at its end and whether the
// process has a controlling terminal.
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

extern char **environ;

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        std::printf("%s\n", argv[i]);
    std::printf("--env--\n");
    for (char **e = environ; *e != nullptr; ++e)
        std::printf("%s\n", *e);
    char c;
    std::printf("stdin:%s\n", ::read(0, &c, 1) == 0 ? "end" : "data");
    const int tty = ::open("/dev/tty", O_RDONLY);
    std::printf("tty:%s\n", tty < 0 ? "none" : "present");
    return 0;
}
