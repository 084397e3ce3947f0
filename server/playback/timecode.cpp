#include "timecode.h"

#include <cassert>
#include <cstdio>

namespace orbel::server::playback {

namespace {
// Drop-frame skips two labels per minute, except every tenth minute.
constexpr std::uint64_t kDropped = 2;
}  // namespace

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

std::uint64_t framesPerDay(const TimecodeCounting& counting) {
  assert(counting.framesPerSecond > 0 && "a timecode counts at least one frame per second");
  const std::uint64_t nominal = 24ull * 3600 * counting.framesPerSecond;
  // 24 hours hold 1440 minutes of which 144 keep their first labels.
  return counting.dropFrame ? nominal - kDropped * (1440 - 144) : nominal;
}

std::string formatLabel(const Timecode& label, bool dropFrame) {
  char text[64];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u%c%02u", label.hours, label.minutes,
                label.seconds, dropFrame ? ';' : ':', label.frames);
  return text;
}

bool labelToFrames(const Timecode& label, const TimecodeCounting& counting, std::uint64_t& frames,
                   std::string& error) {
  const bool fieldsValid = label.hours < 24 && label.minutes < 60 && label.seconds < 60 &&
                           label.frames < counting.framesPerSecond;
  if (!fieldsValid) {
    error = "timecode " + formatLabel(label, counting.dropFrame) +
            " is out of range (hours < 24, " + "minutes and seconds < 60, frames < " +
            std::to_string(counting.framesPerSecond) + ")";
    return false;
  }
  if (counting.dropFrame && label.seconds == 0 && label.frames < kDropped &&
      label.minutes % 10 != 0) {
    error = "timecode " + formatLabel(label, true) + " does not exist in drop-frame counting";
    return false;
  }
  const std::uint64_t totalMinutes = 60ull * label.hours + label.minutes;
  frames = (totalMinutes * 60 + label.seconds) * counting.framesPerSecond + label.frames;
  if (counting.dropFrame) frames -= kDropped * (totalMinutes - totalMinutes / 10);
  return true;
}

void framesToLabel(std::uint64_t frames, const TimecodeCounting& counting, Timecode& label) {
  const std::uint64_t fps = counting.framesPerSecond;
  frames %= framesPerDay(counting);
  if (counting.dropFrame) {
    const std::uint64_t perMinute = fps * 60 - kDropped;
    const std::uint64_t perTenMinutes = fps * 600 - 9 * kDropped;
    const std::uint64_t tens = frames / perTenMinutes;
    const std::uint64_t rest = frames % perTenMinutes;
    frames += 9 * kDropped * tens;
    if (rest > kDropped) frames += kDropped * ((rest - kDropped) / perMinute);
  }
  label.frames = static_cast<std::uint32_t>(frames % fps);
  label.seconds = static_cast<std::uint32_t>(frames / fps % 60);
  label.minutes = static_cast<std::uint32_t>(frames / (fps * 60) % 60);
  label.hours = static_cast<std::uint32_t>(frames / (fps * 3600));
}

}  // namespace orbel::server::playback
