#include "device_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <fbhost/messages.h>

#include "../support/temporary_folder.h"
#include "Net.h"
#include "capture_server.h"
#include "loaders.h"
#include "orbel_defaults.h"
#include "running_server.h"
#include "sockets.h"
#include "synthetic_scene.h"

namespace orbel::device_testing {

namespace fs = std::filesystem;
namespace server = orbel::server;

std::string SceneFile(const std::string& name) {
  const fs::path own = fs::path(ORBEL_DEVICE_SCENES_DIR) / name;
  if (fs::exists(own)) return own.string();
  return (fs::path(ORBEL_SERVER_SCENES_DIR) / name).string();
}

TemporaryFolder::TemporaryFolder() { mPath = MakeTemporaryFolder("orbel-device"); }

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  if (!mPath.empty()) fs::remove_all(mPath, ignored);
}

struct ServedScene::Impl {
  std::shared_ptr<server::Scene> scene;
  std::unique_ptr<orbel::testing::RunningServer> server;
};

ServedScene::ServedScene() : mImpl(std::make_unique<Impl>()) {}
ServedScene::~ServedScene() { Stop(); }

namespace {

bool Serve(std::shared_ptr<server::Scene> scene, server::TimecodeStandard timecode,
           std::shared_ptr<server::Scene>& held,
           std::unique_ptr<orbel::testing::RunningServer>& running, std::string& error) {
  held = std::move(scene);
  server::ServerConfig config;
  config.timecode = timecode;
  running = std::make_unique<orbel::testing::RunningServer>(held, config);
  if (!running->started()) {
    running.reset();
    error = "the capture server did not start";
    return false;
  }
  return true;
}

}  // namespace

bool ServedScene::StartSynthetic(bool palTimecode, std::string& error) {
  Stop();
  return Serve(std::make_shared<server::SyntheticScene>(server::SyntheticSceneConfig()),
               palTimecode ? server::TimecodeStandard::PAL : server::TimecodeStandard::None,
               mImpl->scene, mImpl->server, error);
}

bool ServedScene::Start(const std::string& sceneFile, std::string& error) {
  Stop();
  std::unique_ptr<server::Scene> scene = server::loadSceneFile(sceneFile, error);
  if (!scene) return false;
  return Serve(std::move(scene), server::TimecodeStandard::None, mImpl->scene, mImpl->server,
               error);
}

void ServedScene::Stop() {
  if (mImpl->server) mImpl->server->stop();
  mImpl->server.reset();
}

std::uint16_t ServedScene::port() const { return mImpl->server ? mImpl->server->port() : 0; }

void ServedScene::RequestSwitch() {
  if (mImpl->scene) mImpl->scene->requestSwitch();
}

std::uint16_t ClosedPort() {
  // Bound and closed again: nothing listens there for the test's short life.
  std::uint16_t port = 0;
  std::string ignored;
  const int fd = server::listenOn("127.0.0.1", 0, port, ignored);
  if (fd >= 0) orbel::net::closeSocket(fd);
  return port;
}

bool Eventually(const std::function<bool()>& f) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

std::int64_t Acks(const FBDevice* device) {
  return fbhost::GetDeviceStatistics(device).samplesAcknowledged;
}

void InputPass(fbhost::ManualClock& clock) {
  clock.AdvanceMilliSeconds(12);
  fbhost::StepInput();
}

bool TakeSample(fbhost::ManualClock& clock, const FBDevice* device) {
  const std::int64_t before = Acks(device);
  return Eventually([&] {
    InputPass(clock);
    return Acks(device) > before;
  });
}

bool BuildFromFreshDescription(OrbelSimpleDeviceOptical& device) {
  OrbelDataReader* reader = Access::Reader(device);
  if (reader == nullptr) return false;
  static const FBString kUnread("\x01 not read from the server");
  return Eventually([&] {
    {
      OrbelDataReader::ScopedDataLock lock(*reader);
      auto& names = reader->subjectNames;
      if (std::find(names.begin(), names.end(), kUnread) == names.end()) names.push_back(kUnread);
    }
    device.BuildTemplateHierarchy();
    OrbelDataReader::ScopedDataLock lock(*reader);
    const auto& names = reader->subjectNames;
    return std::find(names.begin(), names.end(), kUnread) == names.end();
  });
}

OrbelSimpleDeviceOptical* AsOrbelDevice(FBDevice* device) {
  if (device == nullptr || !device->Is(gOrbelDeviceTypeInfo)) return nullptr;
  return static_cast<OrbelSimpleDeviceOptical*>(device);
}

std::vector<FBModelTemplate*> Children(const FBModelTemplate& modelTemplate) {
  std::vector<FBModelTemplate*> children;
  for (int i = 0; i < modelTemplate.Children.GetCount(); ++i) {
    children.push_back(modelTemplate.Children[i]);
  }
  return children;
}

std::vector<std::string> ChildNames(const FBModelTemplate& modelTemplate) {
  std::vector<std::string> names;
  for (FBModelTemplate* child : Children(modelTemplate)) {
    names.push_back(child->GetLabelName().str());
  }
  return names;
}

void DeviceTest::SetUp() {
  ASSERT_FALSE(mConfig.path().empty()) << "no temporary folder";
  fbhost::SetConfigFolder(mConfig.path());
  fbhost::SetFlushToDisk(false);
  fbhost::SetProgressEcho(false);
  fbhost::SetMessageEcho(false);
  fbhost::ResetScene();
}

void DeviceTest::TearDown() {
  fbhost::ResetScene();
  mServer.Stop();
  fbhost::SetConfigFolder("");
}

void DeviceTest::Serve(const std::string& sceneName) {
  std::string error;
  ASSERT_TRUE(mServer.Start(SceneFile(sceneName), error)) << error;
}

OrbelSimpleDeviceOptical* DeviceTest::AddDevice() {
  std::string error;
  OrbelSimpleDeviceOptical* device =
      AsOrbelDevice(fbhost::AddDevice("Orbel Stream Device", &error));
  EXPECT_NE(device, nullptr) << error;
  if (device == nullptr) return nullptr;
  device->SetHostAddress("127.0.0.1");
  device->SetHostPort(std::to_string(mServer.port()).c_str());
  device->SetStreamBones(true);
  device->SetStreamMarkers(true);
  return device;
}

::testing::AssertionResult DeviceTest::GoOnline(OrbelSimpleDeviceOptical* device) {
  if (fbhost::SetDeviceOnline(device, true)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "start failed: '" << device->Information.Get().Buffer() << "'";
}

bool DeviceTest::BindRoot(OrbelSimpleDeviceOptical* device, FBModel* model,
                          const std::function<bool(const OrbelDataReader&)>& ready) {
  OrbelDataReader& reader = *Access::Reader(*device);
  bool bound = true;
  const bool done = Eventually([&] {
    {
      OrbelDataReader::ScopedDataLock lock(reader);
      reader.subjectNames.clear();
    }
    std::string error;
    if (!fbhost::BindTemplate(device, 0, model, &error)) {
      ADD_FAILURE() << error;
      bound = false;
      return true;
    }
    // Later tries bind the model the first one made.
    if (model == nullptr) model = Access::RootTemplate(*device)->Model;
    OrbelDataReader::ScopedDataLock lock(reader);
    return !reader.subjectNames.empty() && (!ready || ready(reader));
  });
  return done && bound;
}

}  // namespace orbel::device_testing
