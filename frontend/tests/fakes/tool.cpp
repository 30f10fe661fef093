// Fake console tool for the window tests, standing at both of the front end's tool paths. It keeps
// a pretend controller store in the folder "plc" beside itself and is steered by small files
// there:
//   calls.log      each run appends its arguments, separated by '|', and a line end
//   delay_<action> milliseconds to wait before acting (action: dir info del get up)
//   fail_<action>  an exit status to end with instead of acting
//   listing        printed as it is for /dir instead of the store's names
//   pace_<action>  "<steps> <ms>": each file of a get, up or del takes that many steps, so far
//                  apart; asked for progress (CABRIX_PROGRESS=1), the program reports each step
//   stall_<action> after the first step of the first file, nothing moves any more
// A link switch of a bare "/" ends the run with status 200, as a bad command line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

static std::string ReadFile(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Pace {
    int steps = 0;
    int ms = 0;
    bool stall = false;
    bool reports = false;
};

static void Report(const Pace &pace, const std::string &line)
{
    if (pace.reports)
        std::cerr << "cabrix-progress: " << line << "\r\n" << std::flush;
}

// Takes one file through its steps; size < 0 when the size is not told in advance.
static void Move(const Pace &pace, size_t k, size_t n, long long size, bool bytes)
{
    Report(pace, "start " + std::to_string(k) + " " + std::to_string(n) + " " +
                     (size < 0 ? std::string("-") : std::to_string(size)));
    const long long whole = size < 0 ? 4500LL * pace.steps : size;
    for (int step = 1; step <= pace.steps; ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pace.ms));
        if (bytes)
            Report(pace, "bytes " + std::to_string(k) + " " + std::to_string(whole * step / pace.steps) +
                             " " + std::to_string(step));
        if (pace.stall)
            std::this_thread::sleep_for(std::chrono::seconds(60));
    }
}

int main(int argc, char **argv)
{
    const fs::path home = fs::path(argv[0]).parent_path();
    const fs::path store = home / "plc";
    std::vector<std::string> args(argv + 1, argv + argc);
    {
        std::ofstream log(home / "calls.log", std::ios::app | std::ios::binary);
        for (size_t i = 0; i < args.size(); ++i)
            log << (i ? "|" : "") << args[i];
        log << "\n";
    }

    std::string action, folder, link;
    std::vector<std::string> names;
    for (const std::string &a : args) {
        if (a == "/dir" || a == "/info" || a == "/del" || a == "/get" || a == "/up")
            action = a.substr(1);
        else if (a.rfind("/FLDR", 0) == 0)
            folder = a.substr(5);
        else if (a.rfind("/TCP", 0) == 0 || a.rfind("/COM", 0) == 0 || a == "/")
            link = a;
        else
            names.push_back(a);
    }
    if (link == "/" || action.empty())
        return 200;
    if (fs::exists(home / ("delay_" + action)))
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::stoi(ReadFile(home / ("delay_" + action)))));
    if (fs::exists(home / ("fail_" + action)))
        return std::stoi(ReadFile(home / ("fail_" + action)));
    Pace pace;
    if (fs::exists(home / ("pace_" + action))) {
        std::sscanf(ReadFile(home / ("pace_" + action)).c_str(), "%d %d", &pace.steps, &pace.ms);
        pace.stall = fs::exists(home / ("stall_" + action));
        const char *asked = std::getenv("CABRIX_PROGRESS");
        pace.reports = asked != nullptr && std::strcmp(asked, "1") == 0;
    }

    if (action == "dir") {
        if (fs::exists(home / "listing")) {
            std::cout << ReadFile(home / "listing");
            return 0;
        }
        std::vector<std::string> files;
        for (const auto &e : fs::directory_iterator(store))
            files.push_back(e.path().filename().string());
        std::sort(files.begin(), files.end());
        for (const std::string &f : files)
            std::cout << f << "\r\n";
    } else if (action == "info") {
        std::cout << "Model 7\r\nFirmware 2.1\r\n";
    } else if (action == "del") {
        for (size_t k = 0; k < names.size(); ++k) {
            Move(pace, k + 1, names.size(), -1, false);
            const bool gone = fs::remove(store / names[k]);
            Report(pace, "end " + std::to_string(k + 1) + (gone ? " ok" : " failed"));
            if (!gone)
                return 112;
        }
    } else if (action == "get") {
        for (size_t k = 0; k < names.size(); ++k) {
            Move(pace, k + 1, names.size(), -1, true);
            fs::copy_file(store / names[k], fs::path(folder) / names[k], fs::copy_options::overwrite_existing);
            Report(pace, "bytes " + std::to_string(k + 1) + " " + std::to_string(fs::file_size(store / names[k])) + " " +
                             std::to_string(pace.steps));
            Report(pace, "end " + std::to_string(k + 1) + " ok");
        }
    } else if (action == "up") {
        for (size_t k = 0; k < names.size(); ++k) {
            const fs::path source = fs::path(folder) / names[k];
            Move(pace, k + 1, names.size(), static_cast<long long>(fs::file_size(source)), true);
            fs::copy_file(source, store / names[k], fs::copy_options::overwrite_existing);
            Report(pace, "end " + std::to_string(k + 1) + " ok");
        }
    }
    return 0;
}
