// The ceiling of a stop-and-wait exchange over loopback TCP: the protocol's own units (a
// 136-byte frame answered by a 6-byte acknowledgement), with no file and no checksum work, each
// side doing no more than one blocking send per unit and one blocking receive per read.
#pragma once

#include <cstddef>
#include <optional>

namespace bench {

struct CeilingResult {
  double roundTripsPerSecond = 0;
  double payloadBytesPerSecond = 0;  // 128 payload bytes per round trip
};

// Which way the frames go: to the controller (a write) or from it (a read).
enum class Direction { kToController, kFromController };

// `roundTrips` exchanges of `frameBytes` answered by `ackBytes`, at most `limitSeconds`. The
// controller's side is a second process, as plcsim is, on `controllerCpu` when one is given; the
// PC's side is the calling process. The side that receives the frames reads `headerBytes` first
// and then the rest (0: the whole frame in one read), as a receiver that learns the length from
// the header must.
std::optional<CeilingResult> MeasureCeiling(Direction direction, std::size_t frameBytes,
                                            std::size_t headerBytes, std::size_t ackBytes,
                                            std::size_t payloadBytes, long roundTrips,
                                            double limitSeconds,
                                            std::optional<int> controllerCpu = std::nullopt);

}  // namespace bench
