#include "stream_timecode.h"

#include <cmath>

namespace orbel::server {

namespace {

constexpr std::uint64_t kDropFramesPerMinute = 30 * 60 - 2;            // 1798
constexpr std::uint64_t kDropFramesPerTenMinutes = 10 * 1800 - 9 * 2;  // 17982

bool isNtsc(TimecodeStandard s) {
  return s == TimecodeStandard::NTSC || s == TimecodeStandard::NTSCDrop;
}

}  // namespace

bool parseTimecodeStandard(const std::string& text, TimecodeStandard& out) {
  struct Name {
    const char* text;
    TimecodeStandard standard;
  };
  static constexpr Name kNames[] = {
      {"none", TimecodeStandard::None}, {"pal", TimecodeStandard::PAL},
      {"ntsc", TimecodeStandard::NTSC}, {"ntscdrop", TimecodeStandard::NTSCDrop},
      {"film", TimecodeStandard::Film},
  };
  for (const Name& n : kNames) {
    if (text == n.text) {
      out = n.standard;
      return true;
    }
  }
  return false;
}

std::uint32_t labelsPerSecond(TimecodeStandard standard) {
  switch (standard) {
    case TimecodeStandard::None:
      return 0;
    case TimecodeStandard::PAL:
      return 25;
    case TimecodeStandard::NTSC:
    case TimecodeStandard::NTSCDrop:
      return 30;
    case TimecodeStandard::Film:
      return 24;
  }
  return 0;
}

std::uint64_t timecodeFramesPerDay(TimecodeStandard standard) {
  if (standard == TimecodeStandard::NTSCDrop) return 24 * 6 * kDropFramesPerTenMinutes;
  return std::uint64_t{24} * 3600 * labelsPerSecond(standard);
}

protocol::TimecodeValue countToLabel(std::uint64_t count, TimecodeStandard standard) {
  protocol::TimecodeValue label;
  label.standard = static_cast<std::uint32_t>(standard);
  const std::uint64_t fps = labelsPerSecond(standard);
  if (fps == 0) return label;
  std::uint64_t labelIndex = count % timecodeFramesPerDay(standard);
  if (standard == TimecodeStandard::NTSCDrop) {
    // Put back the labels skipped so far: 18 per ten minutes, and 2 for
    // each minute begun in the current ten (the first minute skips none).
    const std::uint64_t tens = labelIndex / kDropFramesPerTenMinutes;
    const std::uint64_t rest = labelIndex % kDropFramesPerTenMinutes;
    labelIndex += 18 * tens;
    if (rest >= 2) labelIndex += 2 * ((rest - 2) / kDropFramesPerMinute);
  }
  label.frames = static_cast<std::uint32_t>(labelIndex % fps);
  label.seconds = static_cast<std::uint32_t>((labelIndex / fps) % 60);
  label.minutes = static_cast<std::uint32_t>((labelIndex / (fps * 60)) % 60);
  label.hours = static_cast<std::uint32_t>(labelIndex / (fps * 3600));
  return label;
}

bool labelToCount(const protocol::TimecodeValue& label, TimecodeStandard standard,
                  std::uint64_t& count) {
  const std::uint64_t fps = labelsPerSecond(standard);
  if (fps == 0 || label.hours >= 24 || label.minutes >= 60 || label.seconds >= 60 ||
      label.frames >= fps) {
    return false;
  }
  const std::uint64_t totalMinutes = std::uint64_t{label.hours} * 60 + label.minutes;
  std::uint64_t labelIndex = ((totalMinutes * 60) + label.seconds) * fps + label.frames;
  if (standard == TimecodeStandard::NTSCDrop) {
    const bool dropsHere = label.minutes % 10 != 0;
    if (dropsHere && label.seconds == 0 && label.frames < 2) return false;
    labelIndex -= 2 * (totalMinutes - totalMinutes / 10);
  }
  count = labelIndex;
  return true;
}

FrameRate FrameRate::fromDouble(double fps) {
  FrameRate r;
  const double thousandths = std::round(fps * 1000.0);
  if (!(thousandths >= 1.0) || thousandths > 1e15) return r;  // callers validate the rate
  r.numerator = static_cast<std::uint64_t>(thousandths);
  r.denominator = 1000;
  for (std::uint64_t d : {2u, 5u}) {
    while (r.numerator % d == 0 && r.denominator % d == 0) {
      r.numerator /= d;
      r.denominator /= d;
    }
  }
  return r;
}

std::uint64_t timecodeCountAtFrame(std::uint64_t n, FrameRate captureRate,
                                   TimecodeStandard standard) {
  if (standard == TimecodeStandard::None) return 0;
  // Real timecode rate as a ratio: NTSC runs at 30000/1001.
  const unsigned __int128 tcNum = isNtsc(standard) ? 30000 : labelsPerSecond(standard);
  const unsigned __int128 tcDen = isNtsc(standard) ? 1001 : 1;
  // n / capture rate seconds, times the timecode rate, rounded down.
  const unsigned __int128 num = static_cast<unsigned __int128>(n) * captureRate.denominator * tcNum;
  const unsigned __int128 den = static_cast<unsigned __int128>(captureRate.numerator) * tcDen;
  return static_cast<std::uint64_t>(num / den);
}

protocol::TimecodeValue timecodeAtFrame(std::uint64_t n, FrameRate captureRate,
                                        TimecodeStandard standard) {
  return countToLabel(timecodeCountAtFrame(n, captureRate, standard), standard);
}

}  // namespace orbel::server
