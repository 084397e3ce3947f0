// ReadFrame and ReadDescription against a local capture server, through the
// real stream client, on the "small" scene (argument 0: 2 subjects x 20
// segments, 80 labelled and 100 unlabelled markers) and the "stage" scene
// (argument 1: 10 x 60 segments, 600 labelled and 1000 unlabelled markers).
// Each reports its ratio to one memcpy of the frame's payload (x_memcpy).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "OrbelDataReader.h"
#include "capture_server.h"
#include "frame_baseline.h"
#include "synthetic_scene.h"

namespace {

namespace server = orbel::server;

// One server and one connected, described reader per scene.
struct Scene {
  std::unique_ptr<server::CaptureServer> capture;
  std::unique_ptr<OrbelDataReader> reader;
  double framePeriodMs = 0;
  bool ready = false;

  explicit Scene(const std::string& preset) {
    server::SyntheticSceneConfig config;
    if (!server::SyntheticSceneConfig::preset(preset, config)) return;
    auto scene = std::make_shared<server::SyntheticScene>(config);
    framePeriodMs = 1000.0 / scene->framesPerSecond();
    server::ServerConfig serverConfig;
    serverConfig.port = 0;
    serverConfig.log = [](const std::string&) {};
    capture = std::make_unique<server::CaptureServer>(scene, serverConfig);
    std::string error;
    if (!capture->start(error)) {
      std::fprintf(stderr, "capture server: %s\n", error.c_str());
      return;
    }
    reader = std::make_unique<OrbelDataReader>();
    reader->SetServerHost("127.0.0.1");
    reader->SetServerPort(std::to_string(capture->port()).c_str());
    reader->unlabeledMarkerCount = static_cast<int>(config.unlabeled);
    if (!reader->ConnectToServer(5)) return;
    ready = DescribeWhenAFrameCame();
  }

  // A description needs a frame the client has not taken yet.
  bool DescribeWhenAFrameCame() {
    for (int i = 0; i < 2000; ++i) {
      if (reader->ReadDescription(true)) return true;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
  }
};

// One scene at a time keeps the other's server from taking a core.
Scene& TheScene(const std::string& preset) {
  static std::unique_ptr<Scene> scene;
  static std::string current;
  if (!scene || current != preset) {
    scene.reset();
    scene = std::make_unique<Scene>(preset);
    current = preset;
  }
  return *scene;
}

void BM_ReadFrame(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  Scene& scene = TheScene(preset);
  if (!scene.ready) {
    state.SkipWithError("no server");
    return;
  }
  std::int64_t refused = 0;
  for (auto _ : state) {
    // A frame the reader has not read yet: one it has read gives no sample.
    state.PauseTiming();
    std::this_thread::sleep_for(
        std::chrono::microseconds(static_cast<long long>(2000 * scene.framePeriodMs)));
    state.ResumeTiming();
    if (!scene.reader->ReadFrame(FBTime::Zero)) ++refused;
  }
  state.SetLabel(preset);
  state.counters["records"] =
      static_cast<double>(scene.reader->segments.size() + scene.reader->markers.size() +
                          scene.reader->unlabeledMarkers.size());
  state.counters["refused"] = static_cast<double>(refused);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
// Every read waits for a new frame; a bounded run keeps that short.
BENCHMARK(BM_ReadFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(300);

void BM_ReadDescription(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  Scene& scene = TheScene(preset);
  if (!scene.ready) {
    state.SkipWithError("no server");
    return;
  }
  const auto waitForFrame =
      std::chrono::microseconds(static_cast<long long>(scene.framePeriodMs * 1000.0 * 1.2));
  std::int64_t refused = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::this_thread::sleep_for(waitForFrame);  // let a frame come that nobody took
    state.ResumeTiming();
    if (!scene.reader->ReadDescription(true)) ++refused;
  }
  state.SetLabel(preset);
  state.counters["segments"] = static_cast<double>(scene.reader->segments.size());
  state.counters["refused"] = static_cast<double>(refused);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
BENCHMARK(BM_ReadDescription)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->Iterations(150);

}  // namespace

BENCHMARK_MAIN();
