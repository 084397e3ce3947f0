// What the host program measures while devices stream: frames fetched and
// missed by the stream client, and the latency from the capture server's
// send to the device's node write.
//
// How the latency is measured. The stream client library keeps, for the
// whole process, the newest frame any client took (OrbelDataStreamSDK/
// Diagnostics.h): its number, the server's send time and a count of frames
// taken. The host's evaluation observer (fbhost/engine.h) lets this class
// look at those figures right before and right after a device writes its
// nodes (NodeEvaluateNotify). When both looks show the same frame, with no
// frame taken in between, the device wrote that frame's values (the device
// fetches and writes under one lock), and the latency of the frame is the
// time after the write minus the server's send time, both read from
// CLOCK_MONOTONIC. Each frame counts once, at its first write; a write
// during which a newer frame was taken is not counted. Only devices that
// are live and bound write nodes, so only those are measured. The client
// figures are process-wide: with several streaming devices the latency
// mixes them.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <OrbelDataStreamSDK/Diagnostics.h>
#include <fbhost/engine.h>
#include <fbsdk/fbdevice.h>

namespace orbel::hostapp {

struct LatencySummary {
  std::int64_t samples = 0;
  double meanMs = 0.0;
  double minMs = 0.0;
  double medianMs = 0.0;
  double p95Ms = 0.0;
  double maxMs = 0.0;
  double lastMs = 0.0;
};

struct LiveFigures {
  std::uint64_t framesFetched = 0;  // frames the client handed out
  std::uint64_t framesMissed = 0;   // frames between two fetched ones never fetched
  // Poses and positions the server sent with a value that is not a number
  // (the device treats them as occluded: no node write, no key).
  std::uint64_t nonFiniteAnswers = 0;
  LatencySummary latency;
};

// CLOCK_MONOTONIC in nanoseconds, the clock the server and client stamp with.
std::int64_t MonotonicNowNs();

// Count, mean, extremes and nearest-rank percentiles (the smallest sample
// with at least that share of the samples at or below it) of latencies in
// milliseconds, in the order measured (lastMs is the last one).
LatencySummary SummarizeLatencies(const std::vector<double>& samplesMs);

class LiveStats {
 public:
  // Installs the evaluation observer for as long as the object lives. Only
  // one LiveStats should exist at a time.
  LiveStats();
  ~LiveStats();
  LiveStats(const LiveStats&) = delete;
  LiveStats& operator=(const LiveStats&) = delete;

  // The figures since the library loaded (frames) and since the last
  // ResetLatency (latency: the most recent 65536 frames of that window).
  // Any thread.
  LiveFigures Figures() const;
  // The newest latency of the window, if any: what a display polls, without
  // copying the window under the lock the evaluation thread takes.
  std::optional<double> LatestLatencyMs() const;
  // Starts a new latency window (the host program does so when a recording
  // starts, so its summary describes the take).
  void ResetLatency();

  // The observer's two calls; public so that tests can drive them.
  void Observe(FBDevice* device, fbhost::EvaluationPoint point);

 private:
  // The most recent latencies kept for the percentiles.
  static constexpr std::size_t kKeptSamples = 1 << 16;

  struct DeviceWatch {
    OrbelDataStreamSDK::Diagnostics::FrameTaken before;
    std::uint64_t lastCountedTake = 0;  // FramesTaken of the last frame counted
  };

  mutable std::mutex mLock;
  std::map<const FBDevice*, DeviceWatch> mWatches;
  std::deque<double> mLatenciesMs;
};

// Whether the device writes nodes: live with its root template bound.
bool DeviceWritesNodes(FBDevice* device);

}  // namespace orbel::hostapp
