// The settings panel as the host shows it: a real device made through the
// plug-in's device factory, its panel opened through the registry, in a
// temporary configuration folder, and, where the device must be online, a
// capture server running in this process on an ephemeral port.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include <fbhost/config.h>
#include <fbhost/devices.h>
#include <fbhost/idle.h>
#include <fbhost/messages.h>
#include <fbhost/panel.h>
#include <fbhost/progress.h>
#include <fbsdk/fbconfigfile.h>
#include <fbsdk/fbcontrols.h>

#include "../host/test_folder.h"
#include "../support/device_test_access.h"
#include "OrbelDeviceOpticalLayout.h"
#include "OrbelSimpleDeviceOptical.h"
#include "orbel_defaults.h"
#include "running_server.h"
#include "synthetic_scene.h"

namespace orbel_layout_test {

// A folder that lives as long as the object; the settings file goes there.
using ScratchFolder = ::TestFolder;

// An in-process capture server with a small synthetic scene: two subjects
// ("Actor1", "Actor2") of a few segments and markers, and a few unlabelled
// markers.
class LocalServer {
 public:
  bool Start(std::string* error) {
    orbel::server::SyntheticSceneConfig config;
    config.subjects = 2;
    config.segmentsPerSubject = 3;
    config.markersPerSubject = 2;
    config.unlabeled = 3;
    config.framesPerSecond = 120;
    mServer = std::make_unique<orbel::testing::RunningServer>(
        std::make_shared<orbel::server::SyntheticScene>(config));
    if (!mServer->started()) *error = "the capture server did not start";
    return mServer->started();
  }
  std::string Port() const { return std::to_string(mServer->port()); }
  void Stop() {
    if (mServer) mServer->stop();
  }
  ~LocalServer() { Stop(); }

 private:
  std::unique_ptr<orbel::testing::RunningServer> mServer;
};

class PanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(mFolder.path().empty());
    fbhost::SetConfigFolder(mFolder.path());
    fbhost::SetFlushToDisk(false);
    fbhost::SetMessageEcho(false);
    fbhost::SetProgressEcho(false);
  }

  void TearDown() override {
    mPanel.reset();
    if (mDevice != nullptr) {
      std::string error;
      EXPECT_TRUE(fbhost::RemoveDevice(mDevice, &error)) << error;
    }
    mDevice = nullptr;
    fbhost::SetConfigFolder("");
  }

  // Adds the device as a user does (the factory, then initialise), with the
  // settings file as it stands, and opens its panel.
  void AddDeviceAndOpenPanel() {
    std::string error;
    FBDevice* device = fbhost::AddDevice("Orbel Stream Device", &error);
    ASSERT_NE(device, nullptr) << error;
    ASSERT_TRUE(device->Is(gOrbelDeviceTypeInfo));
    mDevice = static_cast<OrbelSimpleDeviceOptical*>(device);
    OpenPanel();
  }

  void OpenPanel() {
    std::string error;
    mPanel = fbhost::Panel::Open(mDevice, &error);
    ASSERT_NE(mPanel, nullptr) << error;
  }

  OrbelDataReader& Reader() { return *OrbelSimpleDeviceOpticalTestAccess::Reader(*mDevice); }

  // What the settings file holds under the key, or "<missing>".
  std::string Setting(const char* key) {
    FBConfigFile file(OrbelSimpleDeviceOptical::kSettingsFileName, false, false);
    return file.Get(OrbelSimpleDeviceOptical::kSettingsSection, key, "<missing>");
  }
  void WriteSetting(const char* key, const char* value) {
    FBConfigFile file(OrbelSimpleDeviceOptical::kSettingsFileName, false, false);
    ASSERT_TRUE(file.Set(OrbelSimpleDeviceOptical::kSettingsSection, key, value));
  }

  // The control in a region of the open panel, as its class.
  template <class Control>
  Control& ControlIn(const std::string& region) {
    fbhost::PanelRegion found;
    std::string error;
    EXPECT_TRUE(mPanel->FindRegion(region, &found, &error)) << error;
    auto* control = dynamic_cast<Control*>(found.control);
    if (control == nullptr) {
      ADD_FAILURE() << "region '" << region << "' holds no control of the expected kind";
      static Control none;
      return none;
    }
    return *control;
  }
  std::string Caption(const std::string& region) {
    return ControlIn<FBButton>(region).Caption.Get().str();
  }
  int State(const std::string& region) { return ControlIn<FBButton>(region).State; }
  std::string EditText(const std::string& region) {
    return ControlIn<FBEdit>(region).Text.Get().str();
  }
  bool Enabled(const std::string& region) {
    fbhost::PanelRegion found;
    EXPECT_TRUE(mPanel->FindRegion(region, &found));
    return found.control != nullptr && found.control->Enabled.Get();
  }

  void Click(const std::string& region) {
    std::string error;
    ASSERT_TRUE(mPanel->Click(region, &error)) << error;
  }
  void Type(const std::string& region, const std::string& text) {
    std::string error;
    ASSERT_TRUE(mPanel->TypeText(region, text, &error)) << error;
  }
  void Choose(const std::string& region, const std::string& item) {
    std::string error;
    ASSERT_TRUE(mPanel->Choose(region, item, &error)) << error;
  }

  // Points the device at the local server through the panel, as a user
  // would, and switches it online.
  void GoOnline(LocalServer& server) {
    Type("EditNetworkAddress", "127.0.0.1");
    Type("EditNetworkPort", server.Port());
    ASSERT_TRUE(fbhost::SetDeviceOnline(mDevice, true)) << mDevice->Information.Get().str();
    ASSERT_TRUE(mDevice->Live.Get());
  }

  ScratchFolder mFolder;
  OrbelSimpleDeviceOptical* mDevice = nullptr;
  std::unique_ptr<fbhost::Panel> mPanel;
};

}  // namespace orbel_layout_test
