#include "cmdline/switches.h"

#include <algorithm>

namespace cabrix {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

Switch SwitchOf(std::string_view arg) {
  struct Exact {
    std::string_view text;
    Switch kind;
  };
  static constexpr Exact kExact[] = {
      {"/dir", Switch::kDir}, {"/inf", Switch::kInf}, {"/info", Switch::kInfo},
      {"/del", Switch::kDel}, {"/up", Switch::kUp},   {"/dn", Switch::kDn},
      {"/get", Switch::kGet},
  };
  for (const Exact& e : kExact) {
    if (arg == e.text) return e.kind;
  }
  if (StartsWith(arg, "/TCP")) return Switch::kTcp;
  if (StartsWith(arg, "/COM")) return Switch::kCom;
  if (StartsWith(arg, "/FLDR")) return Switch::kFolder;
  return Switch::kName;
}

std::optional<std::int32_t> ScanDecimal(std::string_view text, std::size_t& pos) {
  std::size_t i = pos;
  auto isBlank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t digitsStart = i;
  std::uint32_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    ++i;
  }
  if (i == digitsStart) return std::nullopt;
  if (negative) value = 0u - value;
  pos = i;
  return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> ComPortOfSwitch(std::string_view arg) {
  if (!StartsWith(arg, "/COM")) return std::nullopt;
  std::size_t pos = 4;
  return ScanDecimal(arg, pos);
}

std::optional<platform::Ipv4Address> ParseTcpArg(std::string_view tcpArg) {
  constexpr std::string_view kPrefix = "/TCP";
  if (!StartsWith(tcpArg, kPrefix)) return std::nullopt;
  platform::Ipv4Address address{};
  std::size_t pos = kPrefix.size();
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (i > 0) {
      if (pos >= tcpArg.size() || tcpArg[pos] != '.') return std::nullopt;
      ++pos;
    }
    const auto value = ScanDecimal(tcpArg, pos);
    if (!value) return std::nullopt;
    address[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(*value) & 0xFF);
  }
  return address;
}

std::string FolderOfSwitch(std::string_view arg) {
  std::string_view folder = arg.substr(std::min<std::size_t>(5, arg.size()));
  while (!folder.empty() && folder.back() == '"') folder.remove_suffix(1);
  while (!folder.empty() && folder.front() == '"') folder.remove_prefix(1);
  std::string result(folder);
  if (!result.empty() && result.back() != '\\') result.push_back('\\');
  return result;
}

}  // namespace cabrix
