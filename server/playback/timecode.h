// Timecode counting for scenes that serve their own timecode: a label
// (hours:minutes:seconds:frames) and the number of timecode frames since
// midnight, converted in pairs, with drop-frame counting for NTSC drop.
#pragma once

#include <cstdint>
#include <string>

#include "orbel/protocol/messages.h"

namespace orbel::server::playback {

// How a timecode counts: its nominal frames per second (30 for NTSC drop)
// and whether labels skip frames 0 and 1 at each minute not divisible by 10.
struct TimecodeCounting {
  std::uint32_t framesPerSecond = 30;
  bool dropFrame = false;
};

// The counting of a standard code: 1 PAL 25, 2 NTSC 30, 3 NTSC drop 30,
// 4 film 24. Answers false for any other code.
bool countingOfStandard(std::uint32_t standard, TimecodeCounting& counting);

// Frames in one day at this counting; labels wrap there.
std::uint64_t framesPerDay(const TimecodeCounting& counting);

// Label to frames since midnight. Answers false and sets error (quoting the
// label) when a field is out of range or, in drop-frame, the label is one of
// the skipped ones.
bool labelToFrames(const protocol::TimecodeValue& label, const TimecodeCounting& counting,
                   std::uint64_t& frames, std::string& error);

// Frames since midnight (taken modulo one day) to a label; the standard is
// left as the caller set it.
void framesToLabel(std::uint64_t frames, const TimecodeCounting& counting,
                   protocol::TimecodeValue& label);

// "10:20:30:12", with ';' before the frames in drop-frame.
std::string formatLabel(const protocol::TimecodeValue& label, bool dropFrame);

}  // namespace orbel::server::playback
