#include "fbsdk/fbtimecode.h"

#include <cmath>
#include <cstdio>

namespace {

// SMPTE drop-frame at 30 labels per second: two labels dropped per minute,
// except every tenth minute.
constexpr kLongLong kDropFramesPerMinute = 30 * 60 - 2;              // 1 798
constexpr kLongLong kDropFramesPer10Minutes = 10 * 30 * 60 - 9 * 2;  // 17 982

bool ValidLabel(FBTimeCode::Rate rate, int hours, int minutes, int seconds, int frames) {
  if (hours < 0 || hours > FBTimeCode::kMaxHours) return false;
  if (minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59) return false;
  if (frames < 0 || frames >= FBTimeCode::LabelsPerSecond(rate)) return false;
  if (FBTimeCode::IsDropFrame(rate) && seconds == 0 && minutes % 10 != 0 && frames < 2) {
    return false;
  }
  return true;
}

}  // namespace

int FBTimeCode::LabelsPerSecond(Rate rate) noexcept {
  switch (rate) {
    case FILM_24:
      return 24;
    case PAL_25:
      return 25;
    case NTSC_FULL:
    case NTSC_DROP:
      return 30;
  }
  return 30;  // not reached for an enumerator
}

FBTime FBTimeCode::FrameDuration(Rate rate) noexcept {
  switch (rate) {
    case FILM_24:
      return FBTime(FBTime::kTicksPerSecond / 24);
    case PAL_25:
      return FBTime(FBTime::kTicksPerSecond / 25);
    case NTSC_FULL:
    case NTSC_DROP:
      return FBTime(FBTime::kTicksPerNtscFrame);
  }
  return FBTime(FBTime::kTicksPerNtscFrame);  // not reached for an enumerator
}

bool FBTimeCode::LabelToFrameNumber(Rate rate, int hours, int minutes, int seconds, int frames,
                                    kLongLong* frameNumber) noexcept {
  if (!ValidLabel(rate, hours, minutes, seconds, frames)) return false;
  const kLongLong labels = LabelsPerSecond(rate);
  const kLongLong totalMinutes = static_cast<kLongLong>(hours) * 60 + minutes;
  kLongLong n = (totalMinutes * 60 + seconds) * labels + frames;
  if (IsDropFrame(rate)) n -= 2 * (totalMinutes - totalMinutes / 10);
  *frameNumber = n;
  return true;
}

bool FBTimeCode::FrameNumberToLabel(Rate rate, kLongLong frameNumber, int* hours, int* minutes,
                                    int* seconds, int* frames) noexcept {
  if (frameNumber < 0) return false;
  kLongLong n = frameNumber;
  if (IsDropFrame(rate)) {
    // Put the dropped labels back, then read the label as non-drop.
    const kLongLong tens = n / kDropFramesPer10Minutes;
    const kLongLong rest = n % kDropFramesPer10Minutes;
    n += 18 * tens;
    if (rest >= 2) n += 2 * ((rest - 2) / kDropFramesPerMinute);
  }
  const kLongLong labels = LabelsPerSecond(rate);
  const kLongLong totalSeconds = n / labels;
  const kLongLong h = totalSeconds / 3600;
  if (h > kMaxHours) return false;
  *frames = static_cast<int>(n % labels);
  *seconds = static_cast<int>(totalSeconds % 60);
  *minutes = static_cast<int>((totalSeconds / 60) % 60);
  *hours = static_cast<int>(h);
  return true;
}

bool FBTimeCode::SetTimeCode(int hours, int minutes, int seconds, float frames) noexcept {
  if (!std::isfinite(frames) || frames < 0.0f) return false;
  const float whole = std::floor(frames);
  if (whole >= static_cast<float>(LabelsPerSecond(mRate))) return false;
  if (!ValidLabel(mRate, hours, minutes, seconds, static_cast<int>(whole))) return false;
  mHours = hours;
  mMinutes = minutes;
  mSeconds = seconds;
  mFrames = frames;
  return true;
}

FBTime FBTimeCode::GetTime() const noexcept {
  const float whole = std::floor(mFrames);
  kLongLong n = 0;
  // The fields are valid by construction; a failure here cannot happen.
  if (!LabelToFrameNumber(mRate, mHours, mMinutes, mSeconds, static_cast<int>(whole), &n)) {
    return FBTime::Zero;
  }
  const kLongLong duration = FrameDuration(mRate).Get();
  const double fraction = static_cast<double>(mFrames) - static_cast<double>(whole);
  return FBTime(n * duration + std::llround(fraction * static_cast<double>(duration)));
}

bool FBTimeCode::SetTime(FBTime time) noexcept {
  if (time < FBTime::Zero) return false;
  const kLongLong duration = FrameDuration(mRate).Get();
  const kLongLong n = time.Get() / duration;
  const kLongLong rest = time.Get() % duration;
  int h = 0, m = 0, s = 0, f = 0;
  if (!FrameNumberToLabel(mRate, n, &h, &m, &s, &f)) return false;
  float frames = static_cast<float>(static_cast<double>(f) +
                                    static_cast<double>(rest) / static_cast<double>(duration));
  // A fraction just below 1 may round up to the next whole frame in a float;
  // keep the frame the time lies in.
  const float next = static_cast<float>(f + 1);
  if (frames >= next) frames = std::nextafter(next, 0.0f);
  mHours = h;
  mMinutes = m;
  mSeconds = s;
  mFrames = frames;
  return true;
}

bool FBTimeCode::SetRate(Rate rate) noexcept {
  if (!ValidLabel(rate, mHours, mMinutes, mSeconds, static_cast<int>(std::floor(mFrames)))) {
    return false;
  }
  mRate = rate;
  return true;
}

std::string FBTimeCode::ToString() const {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d%c%02d", mHours, mMinutes, mSeconds,
                IsDropFrame(mRate) ? ';' : ':', static_cast<int>(std::floor(mFrames)));
  return buffer;
}
