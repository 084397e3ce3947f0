// The client library against a local capture server serving the "small"
// scene (argument 0: 2 subjects of 20 segments, 80 labelled and 100
// unlabelled markers) or the "stage" scene (argument 1: 10 subjects of 60
// segments, 600 labelled and 1000 unlabelled markers): how many frames a
// second it takes in, whether it keeps up with 1000 a second, and what one
// GetFrame plus every query of the scene costs. Per-frame figures carry
// their ratio to one memcpy of the frame's payload (x_memcpy).
#include <benchmark/benchmark.h>

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ClientTesting.h"
#include "OrbelDataStreamSDK/Client.h"
#include "capture_server.h"
#include "frame_baseline.h"
#include "orbel/protocol/messages.h"
#include "synthetic_scene.h"

namespace {

namespace sdk = OrbelDataStreamSDK::CPP;
using orbel::server::CaptureServer;
using orbel::server::SyntheticScene;
using orbel::server::SyntheticSceneConfig;

// The processors this process may run on.
std::vector<int> AllowedCpus() {
  std::vector<int> cpus;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
  }
  return cpus;
}

// Binds the calling thread (and the threads it starts afterwards) to the
// given processors.
bool BindCallingThread(const std::vector<int>& cpus) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (const int cpu : cpus) CPU_SET(cpu, &set);
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

struct Stage {
  std::unique_ptr<CaptureServer> server;
  sdk::Client client;
  // Whether the client (its receive thread and the caller) runs on one
  // processor and the server on the others.
  bool clientOnOneCore = false;
  std::vector<int> cpus;  // the caller's processors before, when bound

  Stage(const std::string& preset, double fps, bool pinClient = false) {
    if (pinClient) cpus = AllowedCpus();
    if (cpus.size() >= 2) {
      // The server's threads start on every processor but the client's.
      clientOnOneCore = BindCallingThread(std::vector<int>(cpus.begin() + 1, cpus.end()));
    }
    SyntheticSceneConfig config;
    SyntheticSceneConfig::preset(preset, config);
    config.framesPerSecond = fps;
    orbel::server::ServerConfig serverConfig;
    serverConfig.port = 0;
    serverConfig.log = [](const std::string&) {};
    server =
        std::make_unique<CaptureServer>(std::make_shared<SyntheticScene>(config), serverConfig);
    std::string error;
    if (!server->start(error)) return;
    // The receive thread starts in Connect, on the caller's processor.
    if (clientOnOneCore) clientOnOneCore = BindCallingThread({cpus.front()});
    client.Connect("127.0.0.1:" + std::to_string(server->port()));
    client.EnableSegmentData();
    client.EnableMarkerData();
    client.EnableUnlabeledMarkerData();
    while (client.GetFrame().Result != sdk::Result::Success) std::this_thread::yield();
  }
  bool ready() const { return client.IsConnected().Connected; }

  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;
  ~Stage() {
    // The benchmark thread goes back to its processors for the next one.
    if (cpus.size() >= 2) BindCallingThread(cpus);
  }
};

// The server runs as fast as it can compute and send; each iteration waits
// for a frame newer than the last one taken.
void BM_FramesTakenPerSecond(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  Stage stage(preset, 100000);
  if (!stage.ready()) {
    state.SkipWithError("no server");
    return;
  }
  const std::uint64_t received0 = sdk::ClientTestAccess::framesReceived(stage.client);
  const std::uint64_t bytes0 = sdk::ClientTestAccess::bytesReceived(stage.client);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    // Give the core back while waiting, as a polling caller would; on two
    // cores a hard spin would compete with the receive thread it waits for.
    while (stage.client.GetFrame().Result != sdk::Result::Success) std::this_thread::yield();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  state.SetItemsProcessed(state.iterations());
  state.counters["frames_received_per_s"] =
      static_cast<double>(sdk::ClientTestAccess::framesReceived(stage.client) - received0) /
      seconds;
  state.counters["MB_per_s"] =
      static_cast<double>(sdk::ClientTestAccess::bytesReceived(stage.client) - bytes0) / seconds /
      1e6;
  state.SetLabel(preset);
}
BENCHMARK(BM_FramesTakenPerSecond)->Arg(0)->Arg(1)->UseRealTime()->MinTime(2.0);

// The server sends 1000 frames a second; the client keeps up when it
// receives every frame sent (received_of_sent 1) and the caller still finds
// a fresh frame at each of its own 1000 takes a second. The server drops
// frames for a reader that falls behind, so a backlog shows as a ratio
// below 1 rather than as growing memory.
void BM_KeepsUpAt1000PerSecond(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  // The client on one processor, the server on the others.
  Stage stage(preset, 1000, true);
  if (!stage.ready()) {
    state.SkipWithError("no server");
    return;
  }
  stage.client.GetFrame();
  const std::uint64_t received0 = sdk::ClientTestAccess::framesReceived(stage.client);
  const unsigned first = stage.client.GetFrameNumber().FrameNumber;
  std::int64_t fresh = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    fresh += stage.client.GetFrame().Result == sdk::Result::Success;
  }
  const unsigned last = stage.client.GetFrameNumber().FrameNumber;
  const double received =
      static_cast<double>(sdk::ClientTestAccess::framesReceived(stage.client) - received0);
  const double sent = static_cast<double>(last - first);
  state.counters["received_of_sent"] = sent > 0 ? received / sent : 0.0;
  state.counters["fresh_of_takes"] = static_cast<double>(fresh) / state.iterations();
  state.counters["client_on_one_core"] = stage.clientOnOneCore ? 1 : 0;
  state.SetLabel(preset);
}
BENCHMARK(BM_KeepsUpAt1000PerSecond)->Arg(0)->Arg(1)->UseRealTime()->Iterations(2000);

// What the plug-in does once per sample: take the frame, then ask for every
// name-addressed value of the scene, building each name argument afresh.
void BM_GetFramePlusEveryQuery(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  Stage stage(preset, 1000);
  if (!stage.ready()) {
    state.SkipWithError("no server");
    return;
  }
  struct Subject {
    std::string name;
    std::vector<std::string> segments;
    std::vector<std::string> markers;
  };
  std::vector<Subject> subjects;
  const unsigned subjectCount = stage.client.GetSubjectCount().SubjectCount;
  for (unsigned s = 0; s < subjectCount; ++s) {
    Subject subject;
    subject.name = stage.client.GetSubjectName(s).SubjectName;
    const unsigned segments = stage.client.GetSegmentCount(subject.name).SegmentCount;
    for (unsigned k = 0; k < segments; ++k) {
      subject.segments.push_back(stage.client.GetSegmentName(subject.name, k).SegmentName);
    }
    const unsigned markers = stage.client.GetMarkerCount(subject.name).MarkerCount;
    for (unsigned k = 0; k < markers; ++k) {
      subject.markers.push_back(stage.client.GetMarkerName(subject.name, k).MarkerName);
    }
    subjects.push_back(std::move(subject));
  }
  const unsigned unlabeled = stage.client.GetUnlabeledMarkerCount().MarkerCount;
  std::int64_t queries = 0;
  std::int64_t fresh = 0;
  for (auto _ : state) {
    fresh += stage.client.GetFrame().Result == sdk::Result::Success;
    double sum = 0;
    for (const Subject& subject : subjects) {
      for (const std::string& segment : subject.segments) {
        sum += stage.client.GetSegmentLocalTranslation(subject.name, segment).Translation[0];
        sum += stage.client.GetSegmentLocalRotationQuaternion(subject.name, segment).Rotation[3];
      }
      for (const std::string& marker : subject.markers) {
        sum += stage.client.GetMarkerGlobalTranslation(subject.name, marker).Translation[0];
      }
    }
    for (unsigned u = 0; u < unlabeled; ++u) {
      sum += stage.client.GetUnlabeledMarkerGlobalTranslation(u).Translation[0];
    }
    sum += stage.client.GetTimecode().Frames;
    benchmark::DoNotOptimize(sum);
  }
  for (const Subject& subject : subjects) {
    queries += static_cast<std::int64_t>(2 * subject.segments.size() + subject.markers.size());
  }
  queries += unlabeled + 1;
  state.SetItemsProcessed(state.iterations() * queries);
  state.counters["queries_per_frame"] = static_cast<double>(queries);
  state.counters["fresh_frames"] = static_cast<double>(fresh);
  state.SetLabel(preset);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
BENCHMARK(BM_GetFramePlusEveryQuery)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The receive thread's work per frame, without the network or a competing
// server: how many stage frames one core can decode.
void BM_FrameDecode(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  SyntheticSceneConfig config;
  SyntheticSceneConfig::preset(preset, config);
  SyntheticScene scene(config);
  orbel::protocol::Frame frame;
  scene.frameAt(42, frame);
  std::vector<std::uint8_t> bytes;
  orbel::protocol::encode(frame, orbel::protocol::Kind::All, bytes);
  orbel::protocol::Frame out;
  std::string detail;
  for (auto _ : state) {
    orbel::protocol::MessageView m;
    orbel::protocol::splitMessage(bytes.data(), bytes.size(), orbel::protocol::kMaxServerBodyBytes,
                                  m);
    benchmark::DoNotOptimize(orbel::protocol::decode(m.body, m.bodyBytes, out, detail));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
  state.SetLabel(preset);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
BENCHMARK(BM_FrameDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
