#include "ops/exchange.h"

#include "codepage/codepage.h"
#include "text/messages.h"
#include "text/pc_name.h"

namespace cabrix {

COutcome OutcomeOfCode(int code) {
  switch (code) {
    case kLinkStopped: return {OutcomeKind::kStopped};
    case kLinkPcFileOpen:
    case kLinkPcFileCreate:
    case kTransferPcFileIo: return {OutcomeKind::kPcFileFailed, code};
    default: return {OutcomeKind::kLinkFailed, code};
  }
}

std::string_view NameOfPath(std::string_view path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::optional<std::string> ControllerNameOrRefusal(std::string_view pcName,
                                                   COperationObserver& observer) {
  auto name = ControllerFormOf(pcName);
  if (!name) {
    observer.Message(MessageKind::kLine,
                     msg::kNameCharacter.str() + Utf8ToCp1251(pcName).bytes + "\n");
  }
  return name;
}

void RefuseLongName(std::string_view name, COperationObserver& observer) {
  observer.Message(MessageKind::kLine, msg::kNameTooLong.str() + std::string(name) + "\n");
}

}  // namespace cabrix
