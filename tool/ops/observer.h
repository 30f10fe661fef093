// Whoever watches an operation: the operator at a console, a program that runs hidden, a test.
// An operation tells it what happens as it happens: a file transfer starts, makes progress and
// ends, and now and then there is something the operator must be told. Every call comes from the
// thread that runs the operation, between two transport calls; none of them may throw.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace cabrix {

enum class TransferKind {
  kWrite,  // a PC file to the controller
  kRead,   // a controller file into a PC file
};

// Where a transfer stands.
struct TransferProgress {
  TransferKind kind = TransferKind::kWrite;
  std::string_view name;  // the file's controller name (Windows-1251 bytes)
  // File bytes sent to the controller (write), or written into the PC file (read), so far.
  std::uint64_t bytesDone = 0;
  // The file's length when it is known: a write knows it from the start, a read tells it in one
  // last report once its last frame is in.
  std::optional<std::uint64_t> bytesInAll;
  // Frames so far: the block frames the controller accepted (write; the file-header frame does
  // not count), or the frames asked for (read, one report before each).
  std::uint64_t frames = 0;
  // Segments: all of the write's (0 when the file fits into the file-header frame), or those of
  // the read begun so far.
  std::uint64_t segments = 0;
};

// How a message wants to reach the operator.
enum class MessageKind {
  kLine,   // text among the console output, ending a line where it holds "\n" itself
  kAlert,  // a condition that wants an answer ("Порт занят!" and the like)
};

class COperationObserver {
 public:
  virtual ~COperationObserver() = default;

  // `name` is the file's controller name (Windows-1251). A transfer that starts is announced
  // once its link and its PC file are open; FileEnds follows it whatever the outcome.
  virtual void FileStarts(TransferKind kind, std::string_view name) = 0;
  virtual void Progress(const TransferProgress& progress) = 0;
  virtual void FileEnds(TransferKind kind, std::string_view name, bool done) = 0;

  // A Windows-1251 text for the operator.
  virtual void Message(MessageKind kind, std::string_view textCp1251) = 0;
};

}  // namespace cabrix
