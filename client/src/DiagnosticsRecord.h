// The library's side of Diagnostics.h: GetFrame reports each frame it hands
// out. Private to the library.
#pragma once

#include <cstdint>

namespace orbel::client {

// previousNumber: the number of the frame this client took before, when
// hadPrevious. Never throws; takes only the diagnostics lock.
void RecordFrameTaken(std::uint64_t number, std::int64_t serverSendTimeNs,
                      std::int64_t receiveTimeNs, bool hadPrevious,
                      std::uint64_t previousNumber) noexcept;

}  // namespace orbel::client
