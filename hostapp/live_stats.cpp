#include "live_stats.h"

#include <time.h>

#include <algorithm>
#include <vector>

namespace orbel::hostapp {

std::int64_t MonotonicNowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool DeviceWritesNodes(FBDevice* device) {
  if (device == nullptr || !device->Live.Get()) return false;
  FBModelTemplate* root = device->ModelTemplate[0];
  return root != nullptr && root->Model.Get() != nullptr;
}

LiveStats::LiveStats() {
  fbhost::SetEvaluationObserver(
      [this](FBDevice* device, fbhost::EvaluationPoint point) { Observe(device, point); });
}

LiveStats::~LiveStats() { fbhost::SetEvaluationObserver(nullptr); }

void LiveStats::Observe(FBDevice* device, fbhost::EvaluationPoint point) {
  namespace diagnostics = OrbelDataStreamSDK::Diagnostics;
  if (point == fbhost::EvaluationPoint::BeforeNotify) {
    const diagnostics::FrameTaken before = diagnostics::NewestFrameTaken();
    std::lock_guard<std::mutex> lock(mLock);
    mWatches[device].before = before;
    return;
  }
  const std::int64_t writtenNs = MonotonicNowNs();
  const diagnostics::FrameTaken after = diagnostics::NewestFrameTaken();
  const bool writes = DeviceWritesNodes(device);
  std::lock_guard<std::mutex> lock(mLock);
  DeviceWatch& watch = mWatches[device];
  const diagnostics::FrameTaken& before = watch.before;
  if (!writes || !before.Valid || after.FramesTaken != before.FramesTaken ||
      before.FramesTaken == watch.lastCountedTake) {
    return;
  }
  watch.lastCountedTake = before.FramesTaken;
  const double latencyMs = static_cast<double>(writtenNs - before.ServerSendTimeNs) / 1e6;
  if (mSamples == 0) {
    mMinMs = mMaxMs = latencyMs;
  } else {
    mMinMs = std::min(mMinMs, latencyMs);
    mMaxMs = std::max(mMaxMs, latencyMs);
  }
  ++mSamples;
  mSumMs += latencyMs;
  mLastMs = latencyMs;
  mLatenciesMs.push_back(latencyMs);
  if (mLatenciesMs.size() > kKeptSamples) mLatenciesMs.pop_front();
}

LiveFigures LiveStats::Figures() const {
  const auto taken = OrbelDataStreamSDK::Diagnostics::NewestFrameTaken();
  LiveFigures figures;
  figures.framesFetched = taken.FramesTaken;
  figures.framesMissed = taken.FramesSkipped;
  std::vector<double> sorted;
  {
    std::lock_guard<std::mutex> lock(mLock);
    auto& latency = figures.latency;
    latency.samples = mSamples;
    if (mSamples == 0) return figures;
    latency.meanMs = mSumMs / static_cast<double>(mSamples);
    latency.minMs = mMinMs;
    latency.maxMs = mMaxMs;
    latency.lastMs = mLastMs;
    sorted.assign(mLatenciesMs.begin(), mLatenciesMs.end());
  }
  std::sort(sorted.begin(), sorted.end());
  // Nearest rank: the smallest sample at or above the fraction of them.
  auto rank = [&sorted](double fraction) {
    const auto n = static_cast<double>(sorted.size());
    auto index = static_cast<std::size_t>(fraction * n + 0.999999);
    index = std::clamp<std::size_t>(index, 1, sorted.size());
    return sorted[index - 1];
  };
  figures.latency.medianMs = rank(0.5);
  figures.latency.p95Ms = rank(0.95);
  return figures;
}

void LiveStats::ResetLatency() {
  std::lock_guard<std::mutex> lock(mLock);
  mLatenciesMs.clear();
  mSamples = 0;
  mSumMs = mMinMs = mMaxMs = mLastMs = 0.0;
}

}  // namespace orbel::hostapp
