#include <atomic>

#include "platform/stop_event.h"

namespace cabrix::platform {

// Without worker threads an atomic flag is all an auto-reset event needs to be.
struct StopEvent::Impl {
  std::atomic<bool> signalled{false};
};

StopEvent::StopEvent() : m_impl(std::make_unique<Impl>()) {}
StopEvent::~StopEvent() = default;
void StopEvent::Set() { m_impl->signalled.store(true); }
void StopEvent::Reset() { m_impl->signalled.store(false); }
bool StopEvent::TryWait() { return m_impl->signalled.exchange(false); }

}  // namespace cabrix::platform
