// The front end's two splitters. Captured output: the lines hold every byte before the first
// zero byte except the line ends, in order, and as many lines as there are line ends (plus a
// last unended one). Command lines: any bytes split without harm, and arguments quoted the
// usual Windows way come back exactly as they were.
#include <cstdint>
#include <string>
#include <vector>

#include <QByteArray>

#include "cmd.h"
#include "fuzz_input.h"

namespace {

void CheckSplitLines(const QByteArray& bytes) {
  const ByteLines lines = SplitLines(bytes);
  qsizetype end = bytes.indexOf('\0');
  if (end < 0) end = bytes.size();
  QByteArray expected;
  qsizetype lineEnds = 0;
  for (qsizetype i = 0; i < end; ++i) {
    const char c = bytes[i];
    if (c == '\r' || c == '\n') {
      ++lineEnds;
      if (c == '\r' && i + 1 < end && bytes[i + 1] == '\n') ++i;
    } else {
      expected.append(c);
    }
  }
  const bool unended = end > 0 && bytes[end - 1] != '\r' && bytes[end - 1] != '\n';
  FUZZ_CHECK(lines.size() == lineEnds + (unended ? 1 : 0));
  QByteArray joined;
  for (const QByteArray& line : lines) {
    FUZZ_CHECK(!line.contains('\r') && !line.contains('\n') && !line.contains('\0'));
    joined += line;
  }
  FUZZ_CHECK(joined == expected);
}

// Quotes one argument so that the Windows start-up rules give it back unchanged: backslashes
// are doubled where a quote follows them, and a quote is escaped.
QByteArray Quote(const QByteArray& arg) {
  QByteArray out = "\"";
  qsizetype backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(QByteArray(backslashes * 2 + 1, '\\'));
      out.append('"');
    } else {
      out.append(QByteArray(backslashes, '\\'));
      out.append(c);
    }
    backslashes = 0;
  }
  out.append(QByteArray(backslashes * 2, '\\'));
  out.append('"');
  return out;
}

void CheckRoundTrip(const std::vector<std::string>& pieces) {
  if (pieces.empty()) return;
  // The program's path is quoted without escapes, so it cannot hold a quote.
  QByteArray program = QByteArray::fromStdString(pieces[0]);
  program.replace('"', "");
  QByteArray cmdLine = "\"" + program + "\"";
  std::vector<QByteArray> expected{program};
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const QByteArray arg = QByteArray::fromStdString(pieces[i]);
    cmdLine += (i % 2 == 0 ? "\t" : " ") + Quote(arg);
    expected.push_back(arg);
  }
  FUZZ_CHECK(SplitCommandLine(cmdLine) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  CheckSplitLines(bytes);

  const std::vector<QByteArray> args = SplitCommandLine(bytes);
  qsizetype total = 0;
  for (const QByteArray& arg : args) total += arg.size();
  FUZZ_CHECK(total <= bytes.size());
  FUZZ_CHECK(static_cast<qsizetype>(args.size()) <= bytes.size());

  CheckRoundTrip(fuzzing::SplitArguments({data, size}));
  return 0;
}
