#include "memory_pipe.h"

#include <algorithm>

namespace plcsim::testing {

long MemoryPipe::Take(Direction& d, std::span<std::uint8_t> buffer,
                      std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  m_changed.wait_for(lock, timeout, [&] { return m_closed || !d.pieces.empty(); });
  if (!d.pieces.empty()) {
    auto& piece = d.pieces.front();
    const std::size_t n = std::min(buffer.size(), piece.size());
    std::copy_n(piece.begin(), n, buffer.begin());
    piece.erase(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
    if (piece.empty()) d.pieces.pop_front();
    return static_cast<long>(n);
  }
  return m_closed ? -1 : 0;
}

void MemoryPipe::Put(Direction& d, std::span<const std::uint8_t> data) {
  std::lock_guard lock(m_mutex);
  if (m_closed) return;
  d.pieces.emplace_back(data.begin(), data.end());
  if (&d == &m_toPc) m_simWrites.emplace_back(data.begin(), data.end());
  m_changed.notify_all();
}

void MemoryPipe::Close() {
  std::lock_guard lock(m_mutex);
  m_closed = true;
  m_changed.notify_all();
}

std::vector<std::vector<std::uint8_t>> MemoryPipe::SimWrites() {
  std::lock_guard lock(m_mutex);
  return m_simWrites;
}

std::size_t MemoryPipe::SimEnd::ReadSome(std::span<std::uint8_t> buffer, Millis timeout) {
  const long n = m_pipe.Take(m_pipe.m_toSim, buffer, timeout);
  if (n < 0) throw StreamClosed("pipe closed");
  return static_cast<std::size_t>(n);
}

void MemoryPipe::SimEnd::Write(std::span<const std::uint8_t> data) {
  {
    std::lock_guard lock(m_pipe.m_mutex);
    if (m_pipe.m_closed) throw StreamClosed("pipe closed");
  }
  m_pipe.Put(m_pipe.m_toPc, data);
}

std::size_t MemoryPipe::PcEnd::Read(std::span<std::uint8_t> buffer) {
  const long n = m_pipe.Take(m_pipe.m_toPc, buffer, timeout);
  if (n <= 0) throw cabrix::CLinkError(cabrix::kLinkNoData);
  return static_cast<std::size_t>(n);
}

void MemoryPipe::PcEnd::Write(std::span<const std::uint8_t> data) { m_pipe.Put(m_pipe.m_toSim, data); }

}  // namespace plcsim::testing
