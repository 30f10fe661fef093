// The ceiling of a stop-and-wait exchange over loopback TCP: the protocol's own units (a
// 136-byte frame answered by a 6-byte acknowledgement), with no file and no checksum work.
#pragma once

#include <cstddef>
#include <optional>

namespace bench {

struct CeilingResult {
  double roundTripsPerSecond = 0;
  double payloadBytesPerSecond = 0;  // 128 payload bytes per round trip
};

// `frameBytes` go one way (the sender's single write), `ackBytes` come back; `roundTrips`
// exchanges, at most `limitSeconds`. The receiver is a second process, as plcsim is; it reads
// `headerBytes` first and then the rest (0: the whole frame in one read), as a receiver that
// learns the length from the header must.
std::optional<CeilingResult> MeasureCeiling(std::size_t frameBytes, std::size_t headerBytes,
                                            std::size_t ackBytes, std::size_t payloadBytes,
                                            long roundTrips, double limitSeconds);

}  // namespace bench
