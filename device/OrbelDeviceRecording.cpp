// Recording: while the host records, every sample taken in becomes one key
// per animation node, at the sample's own time, in the base layer of the
// current take; with timecode the recorded span follows the stream's clock.
#include <cstdint>

#include <fbsdk/fbtake.h>
#include <fbsdk/fbtimecode.h>

#include "OrbelSimpleDeviceOptical.h"
#include "orbel_bound_records.h"

namespace {

constexpr FBInterpolation kKeyInterpolation = kFBInterpolationCubic;
constexpr FBTangentMode kKeyTangentMode = kFBTangentModeAuto;

// Keys a sample's own values, as the node writer writes them, on the node
// that records the node. The node itself is not read back: the evaluation
// thread writes it on its own clock, so at this moment it may still hold
// the sample before (or none at all, for the first).
void KeyNode(FBAnimationNode* node, FBTime time, const double* record, double scale) {
  double values[3];
  orbel::device::NodeValues(record, scale, false, values);
  FBAnimationNode* target = node->GetAnimationToRecord();
  if (target == nullptr) target = node;
  target->KeyAdd(time, values, kKeyInterpolation, kKeyTangentMode);
}

}  // namespace

void OrbelSimpleDeviceOptical::TransportStateNotify(FBTransportMode mode, FBTime time) noexcept {
  if (mode == kFBTransportStart) {
    if (!mReader) return;
    mReader->ResetFrameTime(time);
    if (Recording && mPlayerControl.IsRecording) {
      mSpanStart = time;
      mSpanOpen = true;
      mSpanStartPending = false;
      if (mReader->UseTimecode()) {
        // The time line starts at the stream's timecode, or, when none has
        // come yet, at the first that does: the span opens there too, never
        // at 00:00:00:00.
        FBTime base;
        if (mReader->FrameTimeBase(base)) {
          mSpanStart = base;
        } else {
          mSpanStartPending = true;
        }
      }
      mSpanEnd = mSpanStart;
    }
    return;
  }
  if (mode == kFBTransportStop) {
    FBTime timecodeTime;
    if (mReader && mReader->UseTimecode() && mSpanOpen && ReaderTimecodeTime(timecodeTime)) {
      FBTime base;
      if (mSpanStartPending && mReader->FrameTimeBase(base)) {
        mSpanStart = base;
        mSpanStartPending = false;
      }
      mSpanEnd = SpanEndAfter(mSpanStart, timecodeTime);
      mSpanOpen = false;
    }
  }
}

FBTime OrbelSimpleDeviceOptical::SpanEndAfter(FBTime start, FBTime timecodeEnd) const {
  if (!(timecodeEnd < start)) return timecodeEnd;
  // A timecode that passed midnight starts again at 00:00:00:00, while the
  // keys, stamped from the time line, run on past 24 hours: unwrap it so
  // that span and keys agree.
  FBTimeCode::Rate rate = FBTimeCode::NTSC_DROP;
  {
    OrbelDataReader::ScopedDataLock lock(*mReader);
    if (lock.owns()) rate = mReader->timecode.GetRate();
  }
  FBTimeCode midnight(rate);
  const FBTime day = midnight.SetTimeCode(24, 0, 0, 0.0F) ? midnight.GetTime() : FBTime::Zero;
  if ((start - timecodeEnd).Get() > day.Get() / 2) return timecodeEnd + day;
  // A timecode that stepped back (a server restarted its clock): the span
  // ends with the last sample instead, and never before it starts.
  FBTime last;
  if (!mReader->LastSampleTime(last) || last < start) return start;
  return last;
}

void OrbelSimpleDeviceOptical::RecordingInitAnimation(FBAnimationNode* node) noexcept {
  FBTake* take = mSystem.CurrentTake;
  if (take != nullptr && take->GetCurrentLayer() != 0) take->SetCurrentLayer(0);
  FBDevice::RecordingInitAnimation(node);
}

void OrbelSimpleDeviceOptical::RecordingDoneAnimation(FBAnimationNode* node) noexcept {
  // A recording during which no timecode came has no span to give.
  if (mReader && mReader->UseTimecode() && !mSpanStartPending) {
    FBTake* take = mSystem.CurrentTake;
    if (take != nullptr) take->LocalTimeSpan = FBTimeSpan(mSpanStart, mSpanEnd);
  }
  FBDevice::RecordingDoneAnimation(node);
}

bool OrbelSimpleDeviceOptical::KeysWanted() {
  return Recording && mReader && mPlayerControl.IsRecording && mPlayerControl.IsPlaying;
}

void OrbelSimpleDeviceOptical::RecordSegmentKeys(FBTime time) {
  if (!KeysWanted()) return;
  // A description rebuild on the UI thread may replace the records, and a
  // bind the node maps, while this walks them.
  OrbelDataReader::ScopedDataLock lock(*mReader);
  if (!lock.owns()) return;
  // Only what this sample refreshed: a record it left alone (occluded by a
  // value that is not a number, or its subject gone) has no value of its own.
  const std::uint64_t sample = mReader->FrameSerial();
  orbel::device::ForEachBoundRecord(
      mReader->segments, mTranslationNodes, mRotationNodes,
      [time, sample](const auto& entry, FBAnimationNode* translation, FBAnimationNode* rotation) {
        // A segment is keyed whole or not at all.
        if (translation == nullptr || rotation == nullptr) return;
        const SegmentRecord& record = entry.second;
        if (record.sampleSerial != sample || sample == 0) return;
        KeyNode(translation, time, record.translation, orbel::device::kTranslationScale);
        KeyNode(rotation, time, record.rotation, 1.0);
      });
}

void OrbelSimpleDeviceOptical::RecordMarkerKeys(FBTime time, FBDeviceNotifyInfo& /*info*/) {
  if (!KeysWanted()) return;
  OrbelDataReader::ScopedDataLock lock(*mReader);
  if (!lock.owns()) return;
  const std::uint64_t sample = mReader->FrameSerial();
  orbel::device::ForEachBoundRecord(
      mReader->markers, mMarkerNodes, [time, sample](const auto& entry, FBAnimationNode* node) {
        const MarkerRecord& record = entry.second;
        if (record.sampleSerial != sample || sample == 0) return;
        KeyNode(node, time, record.position, orbel::device::kTranslationScale);
      });
}
