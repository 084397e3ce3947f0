// Live input: the host's input thread takes samples in through the reader,
// and its evaluation thread writes the newest sample into the animation
// nodes, translations in host units (a tenth of the server's).
#include "OrbelSimpleDeviceOptical.h"
#include "orbel_bound_records.h"

namespace {

using orbel::device::kTranslationScale;

constexpr int kActionSample = 0;
constexpr int kActionSampleRecording = 1;

// Writes the record's three values, scaled, or zeros.
void WriteScaled(FBAnimationNode* node, const double* values, double scale, bool zero,
                 FBEvaluateInfo* info) {
  double data[3];
  orbel::device::NodeValues(values, scale, zero, data);
  node->WriteData(data, info);
}

// A record that no frame has filled yet holds no sample: its node keeps
// what it had rather than show a pose nobody captured. Zeros are written
// all the same when asked for.
template <typename Record>
bool HasSample(const Record& record, bool zero) {
  return zero || record.sampleSerial != 0;
}

}  // namespace

bool OrbelSimpleDeviceOptical::ReaderTimecodeTime(FBTime& time) const {
  if (!mReader) return false;
  OrbelDataReader::ScopedDataLock lock(*mReader);
  if (!lock.owns()) return false;
  time = mReader->timecode.GetTime();
  return true;
}

void OrbelSimpleDeviceOptical::SampleInputNotify(int action, FBDeviceNotifyInfo& info) noexcept {
  FBTime time = info.GetLocalTime();
  if (action != kActionSample && action != kActionSampleRecording) return;
  while (Live) {
    if (!mReader) break;
    if (!mReader->NextFrame(time)) break;
    if (mUseTimecode) {
      // The reference time exists only from a start with timecode on; one
      // switched on later has nothing to stamp until the next start.
      const int index = mReferenceTimeIndex.load();
      FBTime reference;
      if (index >= 0 && ReaderTimecodeTime(reference)) {
        mReferenceTime.SetTime(index, reference, mSystem.SystemTime);
      }
    }
    if (mReader->MarkerDataEnabled()) RecordMarkerKeys(time, info);
    if (mReader->SegmentDataEnabled()) RecordSegmentKeys(time);
    AckOneSampleReceived();
  }
}

bool OrbelSimpleDeviceOptical::NodeEvaluateNotify(FBAnimationNode* /*node*/,
                                                  FBEvaluateInfo* info) noexcept {
  if (!mReader) return false;
  // One hold for the three writers (the lock is recursive), so that all
  // nodes of a pass come from the same sample.
  OrbelDataReader::ScopedDataLock lock(*mReader);
  if (!lock.owns()) return true;
  if (mReader->MarkerDataEnabled()) WriteMarkerNodes(info, false);
  if (mReader->UnlabeledMarkerDataEnabled()) WriteUnlabeledMarkerNodes(info, false);
  if (mReader->SegmentDataEnabled()) WriteSegmentNodes(info, false);
  return true;
}

void OrbelSimpleDeviceOptical::WriteSegmentNodes(FBEvaluateInfo* info, bool zero) {
  if (!mReader || !Live || !mModelBound) return;
  // A frame or a description rebuild may change the records, and a bind
  // the node maps, while they are read here.
  OrbelDataReader::ScopedDataLock lock(*mReader);
  if (!lock.owns() || mTranslationNodes.empty()) return;
  orbel::device::ForEachBoundRecord(
      mReader->segments, mTranslationNodes, mRotationNodes,
      [&](const auto& entry, FBAnimationNode* translation, FBAnimationNode* rotation) {
        // A rotation without its translation is not written.
        if (translation == nullptr || !HasSample(entry.second, zero)) return;
        WriteScaled(translation, entry.second.translation, kTranslationScale, zero, info);
        if (rotation != nullptr) WriteScaled(rotation, entry.second.rotation, 1.0, zero, info);
      });
}

void OrbelSimpleDeviceOptical::WriteMarkerNodes(FBEvaluateInfo* info, bool zero) {
  if (!mReader || !Live || !mModelBound) return;
  OrbelDataReader::ScopedDataLock lock(*mReader);
  if (!lock.owns() || mMarkerNodes.empty()) return;
  orbel::device::ForEachBoundRecord(
      mReader->markers, mMarkerNodes, [&](const auto& entry, FBAnimationNode* node) {
        if (!HasSample(entry.second, zero)) return;
        WriteScaled(node, entry.second.position, kTranslationScale, zero, info);
      });
}

void OrbelSimpleDeviceOptical::WriteUnlabeledMarkerNodes(FBEvaluateInfo* info, bool zero) {
  if (!mReader || !Live || !mModelBound) return;
  OrbelDataReader::ScopedDataLock lock(*mReader);
  if (!lock.owns()) return;
  orbel::device::ForEachBoundRecord(
      mReader->unlabeledMarkers, mMarkerNodes, [&](const auto& entry, FBAnimationNode* node) {
        if (!HasSample(entry.second, zero)) return;
        WriteScaled(node, entry.second.position, kTranslationScale, zero, info);
      });
}

void OrbelSimpleDeviceOptical::ShowSegmentModels(bool show) {
  for (const auto& entry : mSegmentTemplates) {
    if (FBModel* model = entry.second->Model) model->Show = show;
  }
}
