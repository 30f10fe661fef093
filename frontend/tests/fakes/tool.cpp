// Fake console tool for the window tests, standing at both of the front end's tool paths. It keeps
// a pretend controller store in the folder "plc" beside itself and is steered by small files
// there:
//   calls.log      each run appends its arguments, separated by '|', and a line end
//   delay_<action> milliseconds to wait before acting (action: dir info del get up)
//   fail_<action>  an exit status to end with instead of acting
//   listing        printed as it is for /dir instead of the store's names
// A link switch of a bare "/" ends the run with status 200, as a bad command line.
#include <algorithm>
#include <chrono>
#include <cstdio>
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
        for (const std::string &n : names)
            if (!fs::remove(store / n))
                return 112;
    } else if (action == "get") {
        for (const std::string &n : names)
            fs::copy_file(store / n, fs::path(folder) / n, fs::copy_options::overwrite_existing);
    } else if (action == "up") {
        for (const std::string &n : names)
            fs::copy_file(fs::path(folder) / n, store / n, fs::copy_options::overwrite_existing);
    }
    return 0;
}
