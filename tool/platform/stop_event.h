// The stop event of a link object: unnamed, auto-reset, created not signalled.
#pragma once

#include <memory>

namespace cabrix::platform {

class StopEvent {
 public:
  // Throws std::bad_alloc when the event cannot be created.
  StopEvent();
  ~StopEvent();
  StopEvent(const StopEvent&) = delete;
  StopEvent& operator=(const StopEvent&) = delete;

  void Set();
  void Reset();
  // A wait of 0 ms: true when the event was signalled (which resets it).
  bool TryWait();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace cabrix::platform
