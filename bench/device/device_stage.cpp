#include "device_stage.h"

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <fbhost/config.h>
#include <fbhost/devices.h>
#include <fbhost/messages.h>
#include <fbhost/progress.h>
#include <fbhost/scene.h>

#include "capture_server.h"
#include "orbel_defaults.h"
#include "synthetic_scene.h"

namespace orbel::device_bench {

namespace server = orbel::server;

struct Stage::Impl {
  std::string preset;
  std::uint32_t unlabeled = 0;
  std::string configFolder;
  std::shared_ptr<server::SyntheticScene> scene;
  std::unique_ptr<server::CaptureServer> capture;
  double framePeriodMs = 0;
};

Stage::Stage(const std::string& preset, double fps) : mImpl(std::make_unique<Impl>()) {
  mImpl->preset = preset;
  std::string pattern =
      (std::filesystem::temp_directory_path() / "orbel-device-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) mImpl->configFolder = pattern;
  fbhost::SetConfigFolder(mImpl->configFolder);
  fbhost::SetFlushToDisk(false);
  fbhost::SetProgressEcho(false);
  fbhost::SetMessageEcho(false);

  server::SyntheticSceneConfig config;
  if (!server::SyntheticSceneConfig::preset(preset, config)) return;
  if (fps > 0) config.framesPerSecond = fps;
  mImpl->unlabeled = config.unlabeled;
  mImpl->scene = std::make_shared<server::SyntheticScene>(config);
  mImpl->framePeriodMs = 1000.0 / mImpl->scene->framesPerSecond();
  server::ServerConfig serverConfig;
  serverConfig.port = 0;
  serverConfig.log = [](const std::string&) {};
  mImpl->capture = std::make_unique<server::CaptureServer>(mImpl->scene, serverConfig);
  std::string error;
  if (!mImpl->capture->start(error)) {
    std::fprintf(stderr, "capture server: %s\n", error.c_str());
    mImpl->capture.reset();
  }
}

Stage::~Stage() {
  fbhost::ResetScene();
  if (mImpl->capture) mImpl->capture->stop();
  std::error_code ignored;
  if (!mImpl->configFolder.empty()) std::filesystem::remove_all(mImpl->configFolder, ignored);
  fbhost::SetConfigFolder("");
}

OrbelSimpleDeviceOptical* Stage::FreshDevice() {
  if (!mImpl->capture) return nullptr;
  fbhost::ResetScene();
  std::string error;
  FBDevice* added = fbhost::AddDevice("Orbel Stream Device", &error);
  if (added == nullptr || !added->Is(gOrbelDeviceTypeInfo)) {
    std::fprintf(stderr, "no device: %s\n", error.c_str());
    return nullptr;
  }
  auto* device = static_cast<OrbelSimpleDeviceOptical*>(added);
  device->SetHostAddress("127.0.0.1");
  device->SetHostPort(std::to_string(mImpl->capture->port()).c_str());
  device->SetStreamBones(true);
  device->SetStreamMarkers(true);
  device->SetStreamUnlabeledMarkers(true);
  device->SetUnlabeledMarkerCount(static_cast<int>(mImpl->unlabeled));
  if (!fbhost::SetDeviceOnline(device, true)) {
    std::fprintf(stderr, "start: %s\n", device->Information.Get().Buffer());
    return nullptr;
  }
  return device;
}

bool Stage::WaitForNewFrame() const {
  // Two frame periods: the server has sent at least one frame since.
  std::this_thread::sleep_for(
      std::chrono::microseconds(static_cast<long long>(2000 * mImpl->framePeriodMs)));
  return mImpl->capture != nullptr;
}

const std::string& Stage::Preset() const { return mImpl->preset; }

}  // namespace orbel::device_bench
