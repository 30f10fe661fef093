// The console tool's command line: the argument loop, the /TCP address, the decimal reader and
// the console conversion, over arguments cut from the input at zero bytes. The readers must
// agree with the C library's "%d" where that is defined (numbers of up to nine digits).
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/switches.h"
#include "codepage/codepage.h"
#include "driver/tool_job.h"
#include "fuzz_input.h"

namespace {

bool HasLongDigitRun(std::string_view text) {
  std::size_t run = 0;
  for (const char c : text) {
    run = (c >= '0' && c <= '9') ? run + 1 : 0;
    if (run > 9) return true;
  }
  return false;
}

void CheckScanDecimal(const std::string& arg) {
  for (std::size_t start = 0; start <= arg.size(); ++start) {
    std::size_t pos = start;
    const auto value = cabrix::ScanDecimal(arg, pos);
    if (!value) {
      FUZZ_CHECK(pos == start);
    } else {
      FUZZ_CHECK(pos > start && pos <= arg.size());
    }
    if (HasLongDigitRun(arg)) continue;
    int expected = 0;
    int consumed = 0;
    const bool scanned = std::sscanf(arg.c_str() + start, "%d%n", &expected, &consumed) == 1;
    FUZZ_CHECK(scanned == value.has_value());
    if (scanned) {
      FUZZ_CHECK(*value == expected);
      FUZZ_CHECK(pos == start + static_cast<std::size_t>(consumed));
    }
  }
}

void CheckTcpArg(const std::string& arg) {
  const auto address = cabrix::ParseTcpArg(arg);
  if (HasLongDigitRun(arg)) return;
  int a = 0, b = 0, c = 0, d = 0;
  const bool scanned = std::sscanf(arg.c_str(), "/TCP%d.%d.%d.%d", &a, &b, &c, &d) == 4;
  FUZZ_CHECK(scanned == address.has_value());
  if (scanned) {
    FUZZ_CHECK((*address)[0] == static_cast<std::uint8_t>(a));
    FUZZ_CHECK((*address)[1] == static_cast<std::uint8_t>(b));
    FUZZ_CHECK((*address)[2] == static_cast<std::uint8_t>(c));
    FUZZ_CHECK((*address)[3] == static_cast<std::uint8_t>(d));
  }
}

// The conversion works in place up to the first zero byte and nowhere else, and keeps ASCII.
void CheckConsoleText(const std::string& arg) {
  std::string buffer = arg + '\0' + arg + '\0';
  const std::string before = buffer;
  cabrix::ToConsoleText(buffer.data());
  for (std::size_t i = 0; i < buffer.size(); ++i) {
    const auto b = static_cast<unsigned char>(before[i]);
    if (i >= arg.size() || b < 0x80) FUZZ_CHECK(buffer[i] == before[i]);
    if (i < arg.size()) FUZZ_CHECK(buffer[i] != '\0');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = fuzzing::SplitArguments({data, size});
  if (args.size() > 64) return -1;  // a long list adds nothing that a short one cannot show

  bool badCom = false;
  for (const std::string& arg : args) {
    CheckScanDecimal(arg);
    CheckTcpArg(arg);
    CheckConsoleText(arg);
    if (!badCom && arg.starts_with("/COM")) {
      std::size_t pos = 4;
      badCom = !cabrix::ScanDecimal(arg, pos);
    }
  }

  cabrix::CToolJob job("t");
  bool ended = false;
  try {
    cabrix::ReadArguments(job, args);
  } catch (const cabrix::CRunEnd& end) {
    FUZZ_CHECK(end.status == cabrix::kStatusBadCommandLine);
    ended = true;
  }
  FUZZ_CHECK(ended == badCom);
  FUZZ_CHECK(job.m_files.size() <= args.size());
  FUZZ_CHECK(job.m_tcpArg.empty() || job.m_tcpArg.starts_with("/TCP"));
  FUZZ_CHECK(job.m_folder.empty() || (job.m_folder.back() == '\\' && job.m_folder.front() != '"'));
  FUZZ_CHECK(job.m_action >= cabrix::ACTION_NONE && job.m_action <= cabrix::ACTION_DELETE);
  return 0;
}
