// Timecode the server stamps on frames: computed from the frame number at
// the capture rate, labelled at the chosen standard, drop-frame aware.
//
// Two counts meet here. The capture count n advances at the capture rate
// (120 per second by default); the timecode count advances at the
// standard's real rate (25, 24, or 30000/1001 for both NTSC standards).
// Labels are written from the timecode count; NTSC drop frame skips labels
// ;00 and ;01 at every minute not divisible by ten so that its labels keep
// up with real time. Labels wrap at 24 hours.
#pragma once

#include <cstdint>
#include <string>

#include "orbel/protocol/messages.h"

namespace orbel::server {

enum class TimecodeStandard : std::uint32_t {
  None = 0,
  PAL = 1,
  NTSC = 2,
  NTSCDrop = 3,
  Film = 4,
};

// "none", "pal", "ntsc", "ntscdrop", "film".
bool parseTimecodeStandard(const std::string& text, TimecodeStandard& out);

// Labels per second: 25, 30, 30, 24; 0 for None.
std::uint32_t labelsPerSecond(TimecodeStandard standard);

// Timecode frames in 24 hours of labels (where labels wrap).
std::uint64_t timecodeFramesPerDay(TimecodeStandard standard);

// A timecode count (frames since 00:00:00:00, taken modulo one day) to its
// label, and back. labelToCount answers false for a label that does not
// exist at the standard (a field out of range, or a dropped label).
protocol::TimecodeValue countToLabel(std::uint64_t count, TimecodeStandard standard);
bool labelToCount(const protocol::TimecodeValue& label, TimecodeStandard standard,
                  std::uint64_t& count);

// A frame rate as an exact ratio (frames per second = numerator / denominator).
struct FrameRate {
  std::uint64_t numerator = 120;
  std::uint64_t denominator = 1;

  // To the nearest thousandth of a frame per second (119.88 is 119880/1000).
  static FrameRate fromDouble(double fps);
};

// The timecode count of capture frame n: how many whole timecode frames have
// passed at the standard's real rate when capture frame n begins.
std::uint64_t timecodeCountAtFrame(std::uint64_t n, FrameRate captureRate,
                                   TimecodeStandard standard);

// The label of capture frame n (standard None gives an all-zero label).
protocol::TimecodeValue timecodeAtFrame(std::uint64_t n, FrameRate captureRate,
                                        TimecodeStandard standard);

}  // namespace orbel::server
