// The command line of the program that the front end runs: whatever the arguments, a job that
// is accepted names exactly one usable link and one action with the names it needs.
#include <cstdint>
#include <string>
#include <vector>

#include "dialect/dialect.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = fuzzing::SplitArguments({data, size});
  if (args.size() > 64) return -1;
  const auto job = cabrix::dialect::ParseCommandLine(args);
  if (!job) return 0;

  using cabrix::dialect::Action;
  FUZZ_CHECK(job->tcp.has_value() != (job->comPort != 0));
  FUZZ_CHECK(job->comPort >= 0);
  FUZZ_CHECK(job->action != Action::kNone);
  const bool query = job->action == Action::kDir || job->action == Action::kInfo;
  FUZZ_CHECK(query == job->names.empty());
  FUZZ_CHECK(job->names.size() < args.size());
  // The names are the arguments after the action, in order.
  const std::size_t first = args.size() - job->names.size();
  for (std::size_t i = 0; i < job->names.size(); ++i) FUZZ_CHECK(job->names[i] == args[first + i]);
  FUZZ_CHECK(job->folder.empty() || (job->folder.back() == '\\' && job->folder.front() != '"'));
  return 0;
}
