// The sessions of the three kinds of exchange, and the pieces they share. Internal to the
// simulator; exchange.h is the interface.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "exchange.h"

namespace plcsim {

// The 6-byte unit that the simulator sends where the PC reads a closing message it does not look
// at: 55 55 0A 00 00 00.
std::vector<std::uint8_t> ClosingUnit();

// Throws FaultSilent or FaultClose when such a fault fires at the site; then sleeps when a delay
// (delay-ack, or delay-frame at a reply frame) fires.
void ApplyExitAndDelay(ExchangeEnv& env, const SiteRef& site);

// Takes a fault of one of `kinds` at the site and logs its firing with `what` it does.
const FaultSpec* TakeFault(ExchangeEnv& env, const SiteRef& site,
                           std::initializer_list<FaultKind> kinds, const std::string& what);

// A frame that opens an exchange: number 1, intact, with one of the request codes.
bool IsRequest(const Unit& u);

enum class ReplyOutcome { kDelivered, kEndMarker };

// Cuts `stream` into frames numbered from 1 (at most 128 payload bytes, `last` on the final one)
// and sends them stop-and-wait: each after the PC has acknowledged the one before, each again
// when the PC answers code 20. Injects the reply-frame faults. kEndMarker when a fault replaced a
// frame by an end marker (the PC then treats the reply as ended).
ReplyOutcome SendReplyFrames(ExchangeEnv& env, Operation op, int segment,
                             std::span<const std::uint8_t> stream);

// The frame sizes for a stream: 128 each, except that no frame may have a payload of exactly 2
// bytes, which the PC takes for an end marker.
std::vector<std::size_t> FrameSizes(std::size_t streamSize);

// An end marker: a frame with a 2-byte payload.
std::vector<std::uint8_t> EndMarkerFrame(std::uint16_t number);

// A frame with the given number, last flag and payload, checksum set.
std::vector<std::uint8_t> BuildFrame(std::uint16_t number, bool last,
                                     std::span<const std::uint8_t> payload);

ExchangeResult ServeCommand(ExchangeEnv& env, const Unit& request);
ExchangeResult ServeUpload(ExchangeEnv& env, const Unit& request);
ExchangeResult ServeDownload(ExchangeEnv& env, const Unit& request);

}  // namespace plcsim
