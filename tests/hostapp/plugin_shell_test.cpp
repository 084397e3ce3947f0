// The shell with the real plug-in (loaded with dlopen) and the real capture
// server in process serving a hand-made scene: the panel commands must work
// the device's panel as a user would (one click per change, refused while
// the panel disables a control), and the dumps must show what the device
// built.
#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include "plugin_shell_fixture.h"

namespace orbel::hostapp {
namespace {

class PluginShellTest : public PluginShellFixture {
 protected:
  PluginShellTest() : PluginShellFixture("alice_bob.json", /*stepMode=*/true) {}

  std::string Setting(const std::string& key) {
    const auto settings = Json("dump settings");
    const auto& value = settings["settings"]["DataStream"][key];
    return value.is_string() ? value.get<std::string>() : "<missing>";
  }
};

TEST_F(PluginShellTest, PanelCommandsChangeTheDevicesOptionsAsAUserWould) {
  Must("panel cam show");
  EXPECT_NE(Output().find("localhost"), std::string::npos) << Output();

  Must("panel cam set-address 127.0.0.1");
  Must("panel cam set-port ${PORT}");
  EXPECT_EQ(Setting("HostAddress"), "127.0.0.1");
  EXPECT_EQ(Setting("HostPort"), std::to_string(mServer->port()));

  Must("panel cam axis z-up");  // any letter case
  EXPECT_EQ(Setting("AxisMapping"), "1");
  Must("panel cam axis Y-Up");
  EXPECT_EQ(Setting("AxisMapping"), "0");

  Must("panel cam bones on");
  Must("panel cam bones on");  // already on: no second click
  EXPECT_EQ(Setting("StreamBones"), "1");
  Must("panel cam markers on");
  Must("panel cam markers off");
  EXPECT_EQ(Setting("StreamMarkers"), "0");

  // The panel turns what it was typed into a number; letters become 0.
  Must("panel cam count 250");
  EXPECT_EQ(Setting("UnlabeledMarkerCount"), "250");
  Must("panel cam count abc");
  EXPECT_NE(Output().find("count: the panel shows '0'"), std::string::npos);

  Must("panel cam render ${DIR}/panel.svg");
#ifndef _WIN32  // the Windows build has no cairo, so pictures are SVG only there
  Must("panel cam render ${DIR}/panel.png");
  EXPECT_EQ(ReadFile(mFolder.path() + "/panel.png").substr(1, 3), "PNG");
#endif
  EXPECT_NE(ReadFile(mFolder.path() + "/panel.svg").find("<svg"), std::string::npos);
  EXPECT_FALSE(mShell->Run("panel cam render ${DIR}/panel.gif"));
  EXPECT_NE(mShell->LastError().find("panel.gif"), std::string::npos);
}

TEST_F(PluginShellTest, OnlineTheControlsThePanelDisablesRefuseInput) {
  Must("panel cam set-address 127.0.0.1");
  Must("panel cam set-port ${PORT}");
  Must("online cam on");
  EXPECT_FALSE(mShell->Run("panel cam unlabeled on"));
  EXPECT_NE(mShell->LastError().find("\"Stream Unlabeled Markers\" is locked while device 'cam' "
                                     "is online"),
            std::string::npos)
      << mShell->LastError();
  EXPECT_FALSE(mShell->Run("panel cam count 5"));
  // Address, port, frame, bones and markers stay editable.
  Must("panel cam bones on");
}

TEST_F(PluginShellTest, BindingShowsTheDevicesTemplatesAndModels) {
  Must("panel cam set-address 127.0.0.1");
  Must("panel cam set-port ${PORT}");
  Must("panel cam bones on");
  Must("panel cam markers on");
  Must("online cam on");
  Must("bind cam");

  const auto dump = Json("dump templates cam");
  const auto& root = dump["templates"][0];
  EXPECT_EQ(root["prefix"], "Orbel");
  EXPECT_EQ(root["name"], "Optical");
  EXPECT_EQ(root["model"], "Orbel");
  ASSERT_EQ(root["children"].size(), 2u);
  EXPECT_EQ(root["children"][0]["prefix"], "Alice");
  const auto& bob = root["children"][1];
  EXPECT_EQ(bob["prefix"], "Bob");
  EXPECT_EQ(bob["model"], "Bob:RootNode");
  ASSERT_EQ(bob["children"].size(), 3u);
  EXPECT_EQ(bob["children"][0]["name"], "Bob:Bob_LFHD");
  EXPECT_EQ(bob["children"][0]["nodes"][0]["id"], 0);
  const auto& hips = bob["children"][2];
  EXPECT_EQ(hips["name"], "Bob:Bob_Hips");
  EXPECT_EQ(hips["styleName"], "skeleton");
  EXPECT_EQ(hips["nodes"][1]["name"], "Bob:Bob_Hips_Rotation");
  EXPECT_EQ(hips["nodes"][1]["id"], 3);
  EXPECT_EQ(hips["children"][0]["name"], "Bob:Bob_Spine");

  // After a pass, the models stand where the server put them (times 0.1).
  Must("step 3");
  const auto scene = Json("dump scene");
  const auto& orbel = scene["models"][0];
  EXPECT_EQ(orbel["class"], "Root");
  const auto& bobModel = orbel["children"][1];
  EXPECT_EQ(bobModel["label"], "Bob:RootNode");
  bool sawHips = false;
  for (const auto& child : bobModel["children"]) {
    if (child["label"] != "Bob:Bob_Hips") continue;
    sawHips = true;
    EXPECT_EQ(child["class"], "Skeleton");
    EXPECT_EQ(child["show"], true);
    // Y-up: the scene file's Z-up (0.1, -2.5, 95.25) comes as (0.1, 95.25, 2.5).
    EXPECT_NEAR(child["translation"][1].get<double>(), 9.525, 1e-12);
  }
  EXPECT_TRUE(sawHips);

  Must("panel cam pause");
  EXPECT_NE(Output().find("'Resume Live Streaming'"), std::string::npos);
  Must("panel cam pause");
  EXPECT_NE(Output().find("'Pause Live Streaming'"), std::string::npos);
  Must("panel cam remove-unused");
}

#if !defined(_WIN32)  // a POSIX shell's quoting, exit statuses and paths
// The orbel-host program as a new user first meets it: what it prints for
// each early mistake, and its exit status.
TEST_F(PluginShellTest, HostProgramSaysWhatToDoAboutEachMistake) {
  const std::string dir = mFolder.path();
  WriteFile(dir + "/file", "");
  WriteFile(dir + "/damaged.txt",
            "[DataStream]\nHostPort = \"80\xFF"
            "1\"\n");
  const std::string add = "add \"Orbel Stream Device\" cam; ";
  const std::string online = add + "panel cam set-address 127.0.0.1; panel cam set-port ${PORT}; ";
  struct Row {
    std::string options, commands;
    int status;
    const char* says;
    const char* never = nullptr;
  };
  const Row rows[] = {
      {"", online + "online cam ON; panel cam count 7", 1,
       "the marker count is locked while device 'cam' is online, so '7' was not taken: take it "
       "offline first ('online cam off')"},
      {"", add + "panel cam set-port 12ab", 0,
       "warning: the port '12ab' is not a number from 1 to 65535"},
      {"", add + "panel cam set-address \"\"", 0, "warning: the server address is empty"},
      {"", add + "panel cam count 1e3; panel cam count 12; devices", 0,
       "| 'Version: ", "is not a number"},
      {"", add + "panel cam count 99999999999999999999", 0,
       "'99999999999999999999' is out of range: the device uses 100000"},
      {"", add + "panel cam count -5; devices", 0,
       "'Marker count '-5' is out of range: 0 is used'"},
      {"--config-dir " + dir + "/file/config", "add \"Orbel Stream Device\"", 2,
       "cannot hold the settings files: Not a directory", "error"},
      {"", "dump settings /nonexistent/file.txt", 1, "'/nonexistent/file.txt'", "{}"},
      {"", "dump settings " + dir + "/damaged.txt", 0, "\"80\\\\xFF1\"", "exception"},
      {"", online + "online cam on; bind cam; dump device", 0, "\"modelBindingRoot\": \"Orbel\""},
      {"", add + "arm cam maybe", 1, "(on, yes, true, 1 or off, no, false, 0, in any letter case)"},
      {"--set X=1", "echo ${ X }", 1, "a name has no blanks"},
      {"", "save /proc/x.orbs", 1, "cannot write '/proc/x.orbs'", ".tmp-"},
      {"", add + "save " + dir + "/one.orbs", 0, ", 1 device, 1 take\n", "devices"},
      {"", "help panel", 0, "\nexample: panel cam set-port 801"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.options + " -c " + row.commands);
    const std::string command =
        std::string(ORBEL_HOST_PROGRAM) +
        " --quiet --no-status --set PORT=" + std::to_string(mServer->port()) + " --config-dir " +
        dir + "/config " + row.options + " -c '" + row.commands + "' 2>&1";
    std::FILE* program = popen(command.c_str(), "r");
    ASSERT_NE(program, nullptr);
    std::string printed;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, program)) > 0;) {
      printed.append(buffer, n);
    }
    const int status = pclose(program);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.status) << printed;
    EXPECT_NE(printed.find(row.says), std::string::npos) << printed;
    if (row.never != nullptr) {
      EXPECT_EQ(printed.find(row.never), std::string::npos) << printed;
    }
  }
}
#endif

}  // namespace
}  // namespace orbel::hostapp
