#include "text/scan.h"

#include <algorithm>

namespace cabrix {

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

std::string FolderOfSwitch(std::string_view arg) {
  std::string_view folder = arg.substr(std::min<std::size_t>(5, arg.size()));
  while (!folder.empty() && folder.back() == '"') folder.remove_suffix(1);
  while (!folder.empty() && folder.front() == '"') folder.remove_prefix(1);
  std::string result(folder);
  if (!result.empty() && result.back() != '\\') result.push_back('\\');
  return result;
}

}  // namespace cabrix
