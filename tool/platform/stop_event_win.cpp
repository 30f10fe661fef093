#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <new>

#include "platform/stop_event.h"

namespace cabrix::platform {

struct StopEvent::Impl {
  HANDLE handle = nullptr;
};

StopEvent::StopEvent() : m_impl(std::make_unique<Impl>()) {
  // Unnamed, auto-reset, not signalled.
  m_impl->handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (m_impl->handle == nullptr) throw std::bad_alloc();
}

StopEvent::~StopEvent() { CloseHandle(m_impl->handle); }
void StopEvent::Set() { SetEvent(m_impl->handle); }
void StopEvent::Reset() { ResetEvent(m_impl->handle); }
bool StopEvent::TryWait() { return WaitForSingleObject(m_impl->handle, 0) == WAIT_OBJECT_0; }

}  // namespace cabrix::platform
