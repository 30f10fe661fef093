#include "link/tcp_arg.h"

#include "text/scan.h"

namespace cabrix {

std::optional<platform::Ipv4Address> ParseTcpArg(std::string_view tcpArg) {
  constexpr std::string_view kPrefix = "/TCP";
  if (tcpArg.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
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

}  // namespace cabrix
