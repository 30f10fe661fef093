// Fake console program: writes given bytes and exits with a given status.
// emit <stdout bytes in hex> <stderr bytes in hex> <exit status> [stdout repeat count]
#include <cstdlib>
#include <string>

#include <unistd.h>

static std::string FromHex(const char *hex)
{
    std::string bytes;
    for (const char *p = hex; p[0] != '\0' && p[1] != '\0'; p += 2)
        bytes.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
    return bytes;
}

static void WriteAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            std::exit(99);
        done += static_cast<size_t>(n);
    }
}

int main(int argc, char **argv)
{
    if (argc < 4)
        return 98;
    const std::string out = FromHex(argv[1]);
    const long repeat = argc > 4 ? std::atol(argv[4]) : 1;
    for (long i = 0; i < repeat; ++i)
        WriteAll(1, out);
    WriteAll(2, FromHex(argv[2]));
    return std::atoi(argv[3]);
}
