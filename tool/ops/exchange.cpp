#include "ops/exchange.h"

namespace cabrix {

std::string_view NameOfPath(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace cabrix
