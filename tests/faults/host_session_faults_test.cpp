// orbel-host's shell with its own threads, as a user runs it, through the
// steps that replace or lose what the device stands on: a scene loaded
// mid-session and a server that goes away and comes back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <fbhost/fbhost.h>

#include "../support/temporary_folder.h"
#include "capture_server.h"
#include "shell.h"
#include "synthetic_scene.h"

namespace orbel::faults {
namespace {

bool Eventually(const std::function<bool()>& f) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return f();
}

class HostSessionFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fbhost::SetProgressEcho(false);
    fbhost::SetFlushToDisk(false);
    const auto loaded = fbhost::LoadPlugin(ORBEL_PLUGIN_PATH);
    ASSERT_EQ(loaded.status, fbhost::PluginLoadStatus::Loaded) << loaded.message;
  }

  void SetUp() override {
    mFolder = MakeTemporaryFolder("orbel-faults");
    ASSERT_FALSE(mFolder.empty());
    fbhost::SetConfigFolder(mFolder + "/config");

    server::ServerConfig config;
    config.port = 0;
    config.log = [](const std::string&) {};
    mServer = std::make_unique<server::CaptureServer>(
        std::make_shared<server::SyntheticScene>(server::SyntheticSceneConfig()), config);
    std::string error;
    ASSERT_TRUE(mServer->start(error)) << error;

    hostapp::ShellOptions options;
    options.statusLine = false;
    options.variables["PORT"] = std::to_string(mServer->port());
    options.variables["DIR"] = mFolder;
    mShell = std::make_unique<hostapp::Shell>(options, mOut, stderr);
  }

  void TearDown() override {
    mShell.reset();
    if (mServer) mServer->stop();
    fbhost::SetConfigFolder("");
    if (!mFolder.empty()) std::system(("rm -rf '" + mFolder + "'").c_str());
    std::fclose(mOut);
  }

  void Run(const std::string& command) {
    ASSERT_TRUE(mShell->Run(command)) << command << ": " << mShell->LastError();
  }

  static std::int64_t Samples() {
    std::int64_t total = 0;
    for (FBDevice* device : fbhost::Devices()) {
      total += fbhost::GetDeviceStatistics(device).samplesAcknowledged;
    }
    return total;
  }

  void AddStreamingDevice() {
    Run("add \"Orbel Stream Device\" cam");
    Run("panel cam set-address 127.0.0.1");
    Run("panel cam set-port ${PORT}");
    Run("panel cam bones on");
    Run("online cam on");
    Run("bind cam");
  }

  std::string mFolder;
  std::FILE* mOut = std::tmpfile();
  std::unique_ptr<server::CaptureServer> mServer;
  std::unique_ptr<hostapp::Shell> mShell;
};

TEST_F(HostSessionFaults, DeviceAddedAfterASceneLoadStillStreams) {
  AddStreamingDevice();
  ASSERT_TRUE(Eventually([] { return Samples() > 0; })) << "no sample before the load";
  Run("save ${DIR}/empty-then.orbs");
  Run("load ${DIR}/empty-then.orbs");
  Run("remove cam");

  // The load replaced the scene and, with it, stopped the host's threads
  // for a moment; a device put online afterwards must take samples again.
  AddStreamingDevice();
  EXPECT_TRUE(Eventually([] { return Samples() > 0; }))
      << "the device went online after the load but took no sample";
}

}  // namespace
}  // namespace orbel::faults
