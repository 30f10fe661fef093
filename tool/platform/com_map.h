// POSIX only: where COM<n> lives. A Wine-style device map comes first: the link
// $XDG_CONFIG_HOME/cabrix/dosdevices/com<n> (with $HOME/.config when XDG_CONFIG_HOME is unset or
// empty); without such a link, /dev/ttyS<n-1> for n of 1 or more.
#pragma once

#include <optional>
#include <string>

namespace cabrix::platform {

// The device path for COM<number>; nullopt when the number names no device (0 or below).
// A map link is returned as the link's own path, so that a dangling link fails to open.
std::optional<std::string> ResolveComDevice(int number);

}  // namespace cabrix::platform
