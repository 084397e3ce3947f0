// Shared set-up for the device tests: a temporary configuration folder, a
// capture server in this process serving an exact scene file, devices made
// through the plug-in's registered factory, and a look at the device's
// private state.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fbhost/clock.h>
#include <fbhost/components.h>
#include <fbhost/config.h>
#include <fbhost/devices.h>
#include <fbhost/engine.h>
#include <fbhost/progress.h>
#include <fbhost/scene.h>
#include <fbsdk/fbdevice.h>
#include <fbsdk/fbmodeltemplate.h>

#include "../support/device_test_access.h"
#include "OrbelSimpleDeviceOptical.h"

namespace orbel::device_testing {

using Access = OrbelSimpleDeviceOpticalTestAccess;

// A scene file of tests/device/scenes, or of server/scenes when the name is
// not found there.
std::string SceneFile(const std::string& name);

// A folder that is removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  const std::string& path() const { return mPath; }

 private:
  std::string mPath;
};

// A capture server in this process, on a free port of 127.0.0.1.
class ServedScene {
 public:
  ServedScene();
  ~ServedScene();
  ServedScene(const ServedScene&) = delete;
  ServedScene& operator=(const ServedScene&) = delete;
  // False with a message when the scene cannot be read or served.
  bool Start(const std::string& sceneFile, std::string& error);
  // The server's built-in synthetic scene (two subjects of 22 segments and
  // 44 markers, 20 unlabelled markers, 120 frames per second), stamped with
  // PAL timecode when asked.
  bool StartSynthetic(bool palTimecode, std::string& error);
  void Stop();
  std::uint16_t port() const;
  // The second description of a scene that switches on request.
  void RequestSwitch();

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t ClosedPort();

// Polls until f answers true or a generous deadline passes. Only a broken
// build waits the whole time.
bool Eventually(const std::function<bool()>& f);

// Samples the host has acknowledged for the device so far.
std::int64_t Acks(const FBDevice* device);

// Moves the host clock past the reader's fetch interval and runs one input
// pass.
void InputPass(fbhost::ManualClock& clock);

// Input passes until the device takes one more sample in.
bool TakeSample(fbhost::ManualClock& clock, const FBDevice* device);

// Builds the device's templates from a description read afresh from the
// server. A build needs a frame newer than the last one the client took, so
// it may do nothing when called right after another; this repeats it until
// the reader has really read a new description (seen through a marker
// record that only a fresh description removes).
bool BuildFromFreshDescription(OrbelSimpleDeviceOptical& device);

// The device behind a host handle made by the plug-in's factory.
OrbelSimpleDeviceOptical* AsOrbelDevice(FBDevice* device);

// Child templates of a template, in list order.
std::vector<FBModelTemplate*> Children(const FBModelTemplate& modelTemplate);
std::vector<std::string> ChildNames(const FBModelTemplate& modelTemplate);

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Serves the scene file; fails the test when it cannot.
  void Serve(const std::string& sceneName);
  // Adds a device through the plug-in's factory (the host initialises it),
  // points it at the served scene and, through its settings, asks for
  // bones and labelled markers. Fails the test when no device is made.
  OrbelSimpleDeviceOptical* AddDevice();
  // The online check box; answers the start's answer, with the device's
  // information text when it failed.
  ::testing::AssertionResult GoOnline(OrbelSimpleDeviceOptical* device);
  // The user's bind of the root template, to a new model (model null) or to
  // `model`, repeated until the bind has read a description that `ready`
  // accepts (by default, any with a subject): a bind reads the description
  // only when the server has sent a frame since the last one taken.
  bool BindRoot(OrbelSimpleDeviceOptical* device, FBModel* model = nullptr,
                const std::function<bool(const OrbelDataReader&)>& ready = nullptr);

  TemporaryFolder mConfig;
  ServedScene mServer;
};

}  // namespace orbel::device_testing
