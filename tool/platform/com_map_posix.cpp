#include "platform/com_map.h"

#include <sys/stat.h>

#include <cstdlib>

namespace cabrix::platform {

namespace {

// The folder that holds the device map, or "" when neither XDG_CONFIG_HOME nor HOME is set.
std::string DeviceMapFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config != '\0') return std::string(config) + "/cabrix/dosdevices/";
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.config/cabrix/dosdevices/";
  return {};
}

}  // namespace

std::optional<std::string> ResolveComDevice(int number) {
  if (number <= 0) return std::nullopt;
  const std::string folder = DeviceMapFolder();
  if (!folder.empty()) {
    std::string link = folder + "com" + std::to_string(number);
    struct stat st {};
    // lstat, not stat: a link that points nowhere still names the port, and then fails to open.
    if (::lstat(link.c_str(), &st) == 0) return link;
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace cabrix::platform
