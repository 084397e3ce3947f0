// The shell with the real plug-in (loaded with dlopen) and the real capture
// server in process, serving a scene file of server/scenes, with the
// settings files in a folder of the test's own. Shared by the tests of the
// panel commands (step mode) and of the live view (the host's threads
// running).
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>
#include <string>

#include <fbhost/fbhost.h>

#include "../host/test_folder.h"
#include "capture_server.h"
#include "playback/loaders.h"
#include "shell.h"

namespace orbel::hostapp {

class PluginShellFixture : public ::testing::Test {
 protected:
  PluginShellFixture(std::string sceneFile, bool stepMode)
      : mSceneFile(std::move(sceneFile)), mStepMode(stepMode) {}

  static void SetUpTestSuite() {
    fbhost::SetProgressEcho(false);
    fbhost::SetMessageEcho(false);
    fbhost::SetFlushToDisk(false);
    const auto loaded = fbhost::LoadPlugin(ORBEL_PLUGIN_PATH);
    ASSERT_EQ(loaded.status, fbhost::PluginLoadStatus::Loaded) << loaded.message;
  }

  // Starts the server and the shell (${PORT}: the server's, ${DIR}: the
  // test's folder), then adds the device "cam".
  void SetUp() override {
    fbhost::SetConfigFolder(mFolder.path() + "/config");
    std::string error;
    mScene = server::loadSceneFile(std::string(ORBEL_SCENES_DIR) + "/" + mSceneFile, error);
    ASSERT_TRUE(mScene) << error;
    server::ServerConfig config;
    config.port = 0;
    config.log = [](const std::string&) {};
    mServer = std::make_unique<server::CaptureServer>(mScene, config);
    ASSERT_TRUE(mServer->start(error)) << error;

    ShellOptions options;
    options.stepMode = mStepMode;
    options.statusLine = false;
    options.variables["PORT"] = std::to_string(mServer->port());
    options.variables["DIR"] = mFolder.path();
    mOut = std::tmpfile();
    mShell = std::make_unique<Shell>(options, mOut, stderr);
    Must("add \"Orbel Stream Device\" cam");
  }
  void TearDown() override {
    mShell.reset();
    if (mServer) mServer->stop();
    if (mOut != nullptr) std::fclose(mOut);
    fbhost::SetConfigFolder("");
  }

  void Must(const std::string& line) {
    ASSERT_TRUE(mShell->Run(line)) << line << ": " << mShell->LastError();
  }
  std::string Output() {
    std::fflush(mOut);
    std::rewind(mOut);
    std::string text;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, mOut)) > 0) text.append(buffer, n);
    return text;
  }
  nlohmann::json Json(const std::string& line) {
    const std::size_t before = Output().size();
    EXPECT_TRUE(mShell->Run(line)) << mShell->LastError();
    return nlohmann::json::parse(Output().substr(before), nullptr, false);
  }

  const std::string mSceneFile;
  const bool mStepMode;
  TestFolder mFolder;
  std::shared_ptr<server::Scene> mScene;
  std::unique_ptr<server::CaptureServer> mServer;
  std::FILE* mOut = nullptr;
  std::unique_ptr<Shell> mShell;
};

}  // namespace orbel::hostapp
