#include "text1251.h"

namespace plcsim {

std::optional<std::string> Utf8To1251(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    char32_t cp = 0;
    std::size_t len = 0;
    if (b0 < 0x80) {
      cp = b0;
      len = 1;
    } else if ((b0 & 0xE0) == 0xC0) {
      cp = b0 & 0x1F;
      len = 2;
    } else if ((b0 & 0xF0) == 0xE0) {
      cp = b0 & 0x0F;
      len = 3;
    } else {
      return std::nullopt;
    }
    if (i + len > utf8.size()) return std::nullopt;
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(utf8[i + k]);
      if ((b & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (b & 0x3F);
    }
    i += len;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp >= 0x0410 && cp <= 0x044F) {
      out += static_cast<char>(cp - 0x0410 + 0xC0);
    } else if (cp == 0x0401) {
      out += '\xA8';
    } else if (cp == 0x0451) {
      out += '\xB8';
    } else if (cp == 0x2116) {
      out += '\xB9';
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::string DefaultInfoRecord() {
  static const char* const kLines[] = {
      "Контроллер: ПЛК-симулятор plcsim",
      "Версия ПО: 1.0",
      "Память программ: 512 КБ",
      "Свободно: 95%",
  };
  std::string record;
  for (const char* line : kLines) record += *Utf8To1251(line) + "\r\n";
  return record;
}

}  // namespace plcsim
