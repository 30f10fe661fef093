#include "text/pc_name.h"

#include "codepage/codepage.h"

namespace cabrix {

std::optional<std::string> ControllerFormOf(std::string_view pcName) {
  Cp1251FromUtf8 converted = Utf8ToCp1251(pcName);
  switch (converted.outcome) {
    case Cp1251FromUtf8::Outcome::kConverted: return std::move(converted.bytes);
    case Cp1251FromUtf8::Outcome::kNotUtf8: return std::string(pcName);
    case Cp1251FromUtf8::Outcome::kLacksCharacter: break;
  }
  return std::nullopt;
}

std::string PcFormOf(std::string_view controllerName) { return Cp1251ToUtf8(controllerName); }

}  // namespace cabrix
