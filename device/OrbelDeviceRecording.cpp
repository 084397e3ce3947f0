// Recording: while the host records, every sample taken in becomes one key
// per animation node, at the sample's own time, in the base layer of the
// current take; with timecode the recorded span follows the stream's clock.
#include <fbsdk/fbtake.h>

#include "OrbelSimpleDeviceOptical.h"
#include "orbel_bound_records.h"

namespace {

constexpr FBInterpolation kKeyInterpolation = kFBInterpolationCubic;
constexpr FBTangentMode kKeyTangentMode = kFBTangentModeAuto;

// Keys the node's current values on the node that records it.
void KeyNode(FBAnimationNode* node, FBTime time) {
  double values[3] = {0.0, 0.0, 0.0};
  node->ReadData(values);
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
      FBTime timecodeTime;
      if (mReader->UseTimecode() && ReaderTimecodeTime(timecodeTime)) mSpanStart = timecodeTime;
      mSpanEnd = mSpanStart;
    }
    return;
  }
  if (mode == kFBTransportStop) {
    FBTime timecodeTime;
    if (mReader && mReader->UseTimecode() && mSpanOpen && ReaderTimecodeTime(timecodeTime)) {
      mSpanEnd = timecodeTime;
      mSpanOpen = false;
    }
  }
}

void OrbelSimpleDeviceOptical::RecordingInitAnimation(FBAnimationNode* node) noexcept {
  FBTake* take = mSystem.CurrentTake;
  if (take != nullptr && take->GetCurrentLayer() != 0) take->SetCurrentLayer(0);
  FBDevice::RecordingInitAnimation(node);
}

void OrbelSimpleDeviceOptical::RecordingDoneAnimation(FBAnimationNode* node) noexcept {
  if (mReader && mReader->UseTimecode()) {
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
  orbel::device::ForEachBoundRecord(
      mReader->segments, mTranslationNodes, mRotationNodes,
      [time](const auto&, FBAnimationNode* translation, FBAnimationNode* rotation) {
        // A segment is keyed whole or not at all.
        if (translation == nullptr || rotation == nullptr) return;
        KeyNode(translation, time);
        KeyNode(rotation, time);
      });
}

void OrbelSimpleDeviceOptical::RecordMarkerKeys(FBTime time, FBDeviceNotifyInfo& /*info*/) {
  if (!KeysWanted()) return;
  OrbelDataReader::ScopedDataLock lock(*mReader);
  if (!lock.owns()) return;
  orbel::device::ForEachBoundRecord(
      mReader->markers, mMarkerNodes,
      [time](const auto&, FBAnimationNode* node) { KeyNode(node, time); });
}
