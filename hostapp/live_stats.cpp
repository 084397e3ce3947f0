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
  mLatenciesMs.push_back(static_cast<double>(writtenNs - before.ServerSendTimeNs) / 1e6);
  if (mLatenciesMs.size() > kKeptSamples) mLatenciesMs.pop_front();
}

LatencySummary SummarizeLatencies(const std::vector<double>& samplesMs) {
  LatencySummary summary;
  if (samplesMs.empty()) return summary;
  summary.samples = static_cast<std::int64_t>(samplesMs.size());
  summary.lastMs = samplesMs.back();
  std::vector<double> sorted = samplesMs;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0.0;
  for (double v : sorted) sum += v;
  summary.meanMs = sum / static_cast<double>(sorted.size());
  summary.minMs = sorted.front();
  summary.maxMs = sorted.back();
  // Nearest rank: ceil(fraction * n), counted from 1. Integer arithmetic on
  // per-mille shares, so that 0.95 * 20 is exactly rank 19.
  auto rank = [&sorted](std::size_t perMille) {
    const std::size_t n = sorted.size();
    const std::size_t r = std::max<std::size_t>(1, (perMille * n + 999) / 1000);
    return sorted[std::min(r, n) - 1];
  };
  summary.medianMs = rank(500);
  summary.p95Ms = rank(950);
  return summary;
}

LiveFigures LiveStats::Figures() const {
  const auto taken = OrbelDataStreamSDK::Diagnostics::NewestFrameTaken();
  LiveFigures figures;
  figures.framesFetched = taken.FramesTaken;
  figures.framesMissed = taken.FramesSkipped;
  figures.nonFiniteAnswers = taken.NonFiniteAnswers;
  std::vector<double> samples;
  {
    std::lock_guard<std::mutex> lock(mLock);
    samples.assign(mLatenciesMs.begin(), mLatenciesMs.end());
  }
  figures.latency = SummarizeLatencies(samples);
  return figures;
}

std::optional<double> LiveStats::LatestLatencyMs() const {
  std::lock_guard<std::mutex> lock(mLock);
  if (mLatenciesMs.empty()) return std::nullopt;
  return mLatenciesMs.back();
}

void LiveStats::ResetLatency() {
  std::lock_guard<std::mutex> lock(mLock);
  mLatenciesMs.clear();
}

}  // namespace orbel::hostapp
