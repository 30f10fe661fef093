// Little-endian fields over byte spans: the controller sends every 16-bit field low byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace cabrix {

constexpr std::uint16_t Read16le(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

constexpr void Write16le(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
  bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
  bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace cabrix
