// fbtimecode.h: FBTimeCode, a SMPTE timecode label at one of the host's
// timecode rates, and its conversion to and from FBTime.
//
// Side of the boundary: SDK. Implemented in libfbsdk (sdk/src/fbtimecode.cpp).
// A value type: separate objects may be used from any thread; one object is
// not safe for concurrent modification.
//
// Rates (label frame rate, real frame duration):
//   FILM_24    24 labels/s, 1/24 s per frame            (29 400 000 ticks)
//   PAL_25     25 labels/s, 1/25 s per frame            (28 224 000 ticks)
//   NTSC_FULL  30 labels/s, 1001/30000 s per frame      (23 543 520 ticks),
//              non-drop: labels count every frame, so the label runs 0.1 %
//              slower than the clock.
//   NTSC_DROP  30 labels/s, 1001/30000 s per frame, SMPTE drop-frame: the
//              labels ;00 and ;01 are skipped at the start of every minute
//              except minutes 00, 10, 20, 30, 40, 50, so that 00:10:00;00 is
//              exactly frame 17 982. 00:00:59;29 is followed by 00:01:00;02.
// Time 0 is timecode 00:00:00:00 at every rate. Hours are not wrapped at 24.
//
// Frames as a float: SetTimeCode keeps the fraction of the frame number, and
// GetTime places it inside the frame (rounded to the nearest tick); SetTime
// stores the fraction of a time that falls between frame starts. Frame-aligned
// times therefore round-trip exactly in both directions; a sub-frame time
// comes back within the float's precision (about 1e-6 frame).
#pragma once

#include <string>

#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbtime.h"

class FBSDK_API FBTimeCode {
 public:
  enum Rate { FILM_24 = 0, PAL_25 = 1, NTSC_FULL = 2, NTSC_DROP = 3 };

  // 00:00:00:00 at the given rate.
  explicit FBTimeCode(Rate rate = NTSC_DROP) noexcept : mRate(rate) {}

  // Hours above this are out of range everywhere (keeps every time exact).
  static constexpr int kMaxHours = 999999;

  // Sets the label. Answers false, and leaves the timecode unchanged, when a
  // field is out of range: hours, minutes or seconds negative, hours above
  // kMaxHours, minutes or
  // seconds above 59, frames negative, not finite or not below the label rate
  // (24, 25 or 30), or at NTSC_DROP a label that drop-frame skips (frames
  // below 2 in a minute not divisible by 10 at second 0).
  bool SetTimeCode(int hours, int minutes, int seconds, float frames) noexcept;

  // The time of the label: the start of its frame plus the frame fraction.
  FBTime GetTime() const noexcept;

  // Sets the label of the frame that contains the time (frame start <= time <
  // next frame start), keeping the fraction in the frames field. Answers false
  // for a negative time or one beyond hour kMaxHours, and leaves the timecode
  // unchanged.
  bool SetTime(FBTime time) noexcept;

  Rate GetRate() const noexcept { return mRate; }
  // Changes the rate and keeps the label fields as they are; answers false
  // (and changes nothing) when the label does not exist at the new rate.
  bool SetRate(Rate rate) noexcept;

  int GetHours() const noexcept { return mHours; }
  int GetMinutes() const noexcept { return mMinutes; }
  int GetSeconds() const noexcept { return mSeconds; }
  float GetFrames() const noexcept { return mFrames; }

  // "HH:MM:SS:FF", with ';' before the frames at NTSC_DROP; the fraction of
  // the frames is not shown.
  std::string ToString() const;

  // Rate facts. Labels per second: 24, 25, 30, 30. Frame duration in ticks.
  static int LabelsPerSecond(Rate rate) noexcept;
  static FBTime FrameDuration(Rate rate) noexcept;
  static bool IsDropFrame(Rate rate) noexcept { return rate == NTSC_DROP; }

  // Frame number (frames since 00:00:00:00) <-> label, for whole frames. The
  // label form answers false for an invalid label as SetTimeCode does; the
  // frame form answers false for a negative frame number.
  static bool LabelToFrameNumber(Rate rate, int hours, int minutes, int seconds, int frames,
                                 kLongLong* frameNumber) noexcept;
  static bool FrameNumberToLabel(Rate rate, kLongLong frameNumber, int* hours, int* minutes,
                                 int* seconds, int* frames) noexcept;

  bool operator==(const FBTimeCode& o) const noexcept {
    return mRate == o.mRate && mHours == o.mHours && mMinutes == o.mMinutes &&
           mSeconds == o.mSeconds && mFrames == o.mFrames;
  }
  bool operator!=(const FBTimeCode& o) const noexcept { return !(*this == o); }

 private:
  Rate mRate;
  int mHours = 0;
  int mMinutes = 0;
  int mSeconds = 0;
  float mFrames = 0.0f;
};
