#include "timecode.h"

#include <cassert>
#include <cstdio>

#include "stream_timecode.h"

namespace orbel::server::playback {

bool countingOfStandard(std::uint32_t standard, TimecodeCounting& counting) {
  switch (standard) {
    case 1:
      counting = {25, false};
      return true;
    case 2:
      counting = {30, false};
      return true;
    case 3:
      counting = {30, true};
      return true;
    case 4:
      counting = {24, false};
      return true;
    default:
      return false;
  }
}

namespace {
// The standard a counting stands for; the counting and the label arithmetic
// are the server's (stream_timecode.h).
TimecodeStandard StandardOf(const TimecodeCounting& counting) {
  assert(counting.framesPerSecond > 0 && "a timecode counts at least one frame per second");
  switch (counting.framesPerSecond) {
    case 25:
      return TimecodeStandard::PAL;
    case 24:
      return TimecodeStandard::Film;
    default:
      assert(counting.framesPerSecond == 30 && "a counting of one of the four standards");
      return counting.dropFrame ? TimecodeStandard::NTSCDrop : TimecodeStandard::NTSC;
  }
}
}  // namespace

std::uint64_t framesPerDay(const TimecodeCounting& counting) {
  return timecodeFramesPerDay(StandardOf(counting));
}

std::string formatLabel(const protocol::TimecodeValue& label, bool dropFrame) {
  char text[64];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u%c%02u", label.hours, label.minutes,
                label.seconds, dropFrame ? ';' : ':', label.frames);
  return text;
}

bool labelToFrames(const protocol::TimecodeValue& label, const TimecodeCounting& counting,
                   std::uint64_t& frames, std::string& error) {
  if (labelToCount(label, StandardOf(counting), frames)) return true;
  const bool fieldsValid = label.hours < 24 && label.minutes < 60 && label.seconds < 60 &&
                           label.frames < counting.framesPerSecond;
  if (!fieldsValid) {
    error = "timecode " + formatLabel(label, counting.dropFrame) +
            " is out of range (hours < 24, " + "minutes and seconds < 60, frames < " +
            std::to_string(counting.framesPerSecond) + ")";
  } else {
    error = "timecode " + formatLabel(label, true) + " does not exist in drop-frame counting";
  }
  return false;
}

void framesToLabel(std::uint64_t frames, const TimecodeCounting& counting,
                   protocol::TimecodeValue& label) {
  const std::uint32_t standard = label.standard;
  label = countToLabel(frames, StandardOf(counting));
  label.standard = standard;
}

}  // namespace orbel::server::playback
