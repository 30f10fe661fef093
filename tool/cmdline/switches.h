// The switches of the console programs' command lines, read in one place. Every comparison is
// byte for byte and case-sensitive: /DIR, /Up or /tcp10.0.6.10 are no switches. The console tool
// and the front end's console program each take the switches of their own command line and
// treat the others as their grammar says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/tcp_socket.h"

namespace cabrix {

enum class Switch {
  kName,    // no switch: a file name
  kDir,     // "/dir"
  kInf,     // "/inf", the console tool's information query
  kInfo,    // "/info", the front end's
  kDel,     // "/del"
  kUp,      // "/up"
  kDn,      // "/dn", the console tool's read
  kGet,     // "/get", the front end's
  kTcp,     // begins with "/TCP"
  kCom,     // begins with "/COM"
  kFolder,  // begins with "/FLDR"
};

// What `arg` is: one of the exact switches, a link or folder switch by its beginning, or a name.
Switch SwitchOf(std::string_view arg);

// Reads one decimal integer at `pos` the way the C library's "%d" does: leading blanks skipped,
// an optional sign, then digits; reading stops at the first character that cannot continue the
// number. On success `pos` stands after the number. nullopt when no digit can be read. Values
// beyond 32 bits wrap, keeping their low bits.
std::optional<std::int32_t> ScanDecimal(std::string_view text, std::size_t& pos);

// The port number of a /COM switch ("/COM%d"); nullopt when none can be read.
std::optional<std::int32_t> ComPortOfSwitch(std::string_view arg);

// The controller address of a /TCP switch ("/TCP%d.%d.%d.%d"): four decimal numbers separated by
// dots, each cut to its low 8 bits, in the order written; anything after the fourth number is
// ignored. nullopt when fewer than four numbers can be read.
std::optional<platform::Ipv4Address> ParseTcpArg(std::string_view tcpArg);

// The folder of a /FLDR switch: what follows the five characters "/FLDR", with the double
// quotes at its end and then those at its start removed, and a backslash appended when it does
// not end in one. Empty when nothing but quotes (or nothing at all) follows the switch.
std::string FolderOfSwitch(std::string_view arg);

}  // namespace cabrix
