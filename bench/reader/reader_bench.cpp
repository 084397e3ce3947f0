// ReadFrame and ReadDescription for the stage scene (10 subjects x 60
// segments, 600 labelled and 1000 unlabelled markers) against a local
// capture server, through the real stream client.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "OrbelDataReader.h"
#include "capture_server.h"
#include "synthetic_scene.h"

namespace {

namespace server = orbel::server;

// One server and one connected, described reader for every benchmark.
struct Stage {
  std::unique_ptr<server::CaptureServer> capture;
  std::unique_ptr<OrbelDataReader> reader;
  double framePeriodMs = 0;
  bool ready = false;

  Stage() {
    server::SyntheticSceneConfig config;
    if (!server::SyntheticSceneConfig::preset("stage", config)) return;
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
    reader->unlabeledMarkerCount = 1000;
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

Stage& TheStage() {
  static Stage stage;
  return stage;
}

void BM_ReadFrame_Stage(benchmark::State& state) {
  Stage& stage = TheStage();
  if (!stage.ready) {
    state.SkipWithError("no stage server");
    return;
  }
  std::int64_t refused = 0;
  for (auto _ : state) {
    if (!stage.reader->ReadFrame(FBTime::Zero)) ++refused;
  }
  state.counters["records"] =
      static_cast<double>(stage.reader->segments.size() + stage.reader->markers.size() +
                          stage.reader->unlabeledMarkers.size());
  state.counters["refused"] = static_cast<double>(refused);
}
BENCHMARK(BM_ReadFrame_Stage)->Unit(benchmark::kMicrosecond);

void BM_ReadDescription_Stage(benchmark::State& state) {
  Stage& stage = TheStage();
  if (!stage.ready) {
    state.SkipWithError("no stage server");
    return;
  }
  const auto waitForFrame =
      std::chrono::microseconds(static_cast<long long>(stage.framePeriodMs * 1000.0 * 1.2));
  std::int64_t refused = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::this_thread::sleep_for(waitForFrame);  // let a frame come that nobody took
    state.ResumeTiming();
    if (!stage.reader->ReadDescription(true)) ++refused;
  }
  state.counters["segments"] = static_cast<double>(stage.reader->segments.size());
  state.counters["refused"] = static_cast<double>(refused);
}
BENCHMARK(BM_ReadDescription_Stage)->Unit(benchmark::kMicrosecond)->Iterations(150);

}  // namespace

BENCHMARK_MAIN();
