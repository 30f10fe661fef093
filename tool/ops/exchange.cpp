#include "ops/exchange.h"

#include "text/console_text.h"
#include "text/cp1251_utf8.h"
#include "text/messages.h"
#include "text/pc_name.h"

namespace cabrix {

std::string_view NameOfPath(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::optional<std::string> ControllerNameOrRefusal(std::string_view pcName) {
  auto name = ControllerFormOf(pcName);
  if (!name) PrintText(msg::kNameCharacter.str() + Utf8ToCp1251(pcName).bytes + "\n");
  return name;
}

}  // namespace cabrix
