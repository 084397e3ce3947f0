// The host program's shell, driven as a user drives it, on the host's own
// small test device (deterministic samples, no network): every command's
// happy path once, and the mistakes users make, each of which must come
// back as one error that quotes the bad input, leaving the scene as it was.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include <fbhost/fbhost.h>
#include <fbsdk/fbsdk.h>

#include "../e2e/bvh_reference.h"
#include "../host/test_device.h"
#include "../host/test_folder.h"
#include "file_output.h"
#include "line_editor.h"
#include "shell.h"

namespace orbel::hostapp {
namespace {

using hosttest::TestDevice;

// Everything written to a FILE*, for the assertions.
class Capture {
 public:
  Capture() : mFile(std::tmpfile()) {}
  ~Capture() {
    if (mFile != nullptr) std::fclose(mFile);
  }
  std::FILE* file() const { return mFile; }
  std::string Text() const {
    std::fflush(mFile);
    std::string text;
    std::rewind(mFile);
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, mFile)) > 0) text.append(buffer, n);
    std::fseek(mFile, 0, SEEK_END);
    return text;
  }

 private:
  std::FILE* mFile;
};

class ShellTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TestDevice::Register();
    fbhost::SetProgressEcho(false);
    fbhost::SetMessageEcho(false);
    fbhost::SetFlushToDisk(false);
  }

  void SetUp() override {
    fbhost::SetConfigFolder(mFolder.path() + "/config");
    ShellOptions options;
    options.stepMode = true;
    options.statusLine = false;
    options.variables["DIR"] = mFolder.path();
    mShell = std::make_unique<Shell>(options, mOut.file(), mErr.file());
  }
  void TearDown() override {
    mShell.reset();
    fbhost::SetConfigFolder("");
  }

  bool Run(const std::string& line) { return mShell->Run(line); }
  void Must(const std::string& line) {
    ASSERT_TRUE(mShell->Run(line)) << line << ": " << mShell->LastError();
  }
  nlohmann::json Json(const std::string& line) {
    const std::size_t before = mOut.Text().size();
    EXPECT_TRUE(mShell->Run(line)) << mShell->LastError();
    return nlohmann::json::parse(mOut.Text().substr(before), nullptr, false);
  }
  // add, online, bind, arm: a device ready to record.
  void ReadyDevice() {
    Must("add \"Host Test Device\" dev");
    Must("online dev on");
    Must("bind dev");
    Must("arm dev on");
  }

  TestFolder mFolder;
  Capture mOut, mErr;
  std::unique_ptr<Shell> mShell;
};

struct Mistake {
  const char* name;
  const char* line;
  const char* quoted;  // what the error must contain
};

class ShellMistakeTest : public ShellTest, public ::testing::WithParamInterface<Mistake> {};

TEST_P(ShellMistakeTest, FailsWithAMessageThatQuotesTheInput) {
  Must("add \"Host Test Device\" dev");
  const std::size_t models = fbhost::SceneModels().size();
  EXPECT_FALSE(Run(GetParam().line));
  EXPECT_NE(mShell->LastError().find(GetParam().quoted), std::string::npos) << mShell->LastError();
  EXPECT_NE(mErr.Text().find("orbel-host: error: "), std::string::npos);
  EXPECT_EQ(fbhost::SceneModels().size(), models);
  EXPECT_EQ(fbhost::Devices().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ShellMistakeTest,
    ::testing::Values(
        Mistake{"unknown_command", "frobnicate now", "'frobnicate'"},
        Mistake{"too_few_words", "online dev", "usage: online DEVICE on|off"},
        Mistake{"too_many_words", "stop now please", "usage: stop"},
        Mistake{"unknown_device", "online nobody on", "'nobody' (devices: 'dev')"},
        Mistake{"bad_switch", "online dev maybe", "'maybe'"},
        Mistake{"unknown_label", "add \"No Such Device\"", "'No Such Device'"},
        Mistake{"name_taken", "add \"Host Test Device\" dev", "'dev'"},
        Mistake{"name_with_colon", "add \"Host Test Device\" a:b", "'a:b'"},
        Mistake{"bad_operation", "op dev frob", "'frob'"},
        Mistake{"bad_seconds", "wait 5s", "'5s'"}, Mistake{"negative_seconds", "record -1", "'-1'"},
        Mistake{"nothing_armed", "record 1", "no online device is armed"},
        Mistake{"stop_when_stopped", "stop", "not running"},
        Mistake{"bind_unknown_model", "bind dev NoSuchModel", "'NoSuchModel'"},
        Mistake{"no_panel_class", "panel dev show", "HostTestDevice"},
        Mistake{"unknown_panel_action", "panel dev frob", "'frob'"},
        Mistake{"panel_missing_value", "panel dev bones", "needs a value"},
        Mistake{"unknown_take", "export-bvh ${DIR}/a.bvh NoTake", "'NoTake'"},
        Mistake{"unknown_option", "export-csv ${DIR}/a.csv --frob x", "'--frob'"},
        Mistake{"option_without_value", "export-bvh ${DIR}/a.bvh --subject", "'--subject'"},
        Mistake{"nothing_recorded", "export-bvh ${DIR}/a.bvh", "no skeleton model has keys"},
        Mistake{"gltf_not_glb", "export-gltf ${DIR}/a.gltf", "a.gltf"},
#if defined(_WIN32)  // no glTF writer in the Windows build
        Mistake{"gltf_nothing_recorded", "export-gltf ${DIR}/a.glb", "not part of the Windows"},
#else
        Mistake{"gltf_nothing_recorded", "export-gltf ${DIR}/a.glb", "no skeleton model has keys"},
#endif
        Mistake{"view_port", "view on 70000", "'70000'"},
        Mistake{"unknown_dump", "dump widgets", "'widgets'"},
        Mistake{"keys_on_scene", "dump scene --keys", "--keys"},
        Mistake{"unknown_variable", "echo ${NOPE}", "'NOPE'"},
        Mistake{"unclosed_quote", "echo \"abc", "'\"abc'"},
        Mistake{"missing_scene_file", "load ${DIR}/none.orbs", "none.orbs"},
        Mistake{"step_count", "step 0", "'0'"},
        Mistake{"take_usage", "take rename x", "usage: take"},
        Mistake{"unknown_take_use", "take use Missing", "'Missing'"},
        Mistake{"render_extension", "panel dev render ${DIR}/p.txt", "HostTestDevice"}),
    [](const ::testing::TestParamInfo<Mistake>& info) { return info.param.name; });

TEST_F(ShellTest, ADeviceThatRefusesToStartShowsWhy) {
  Must("add \"Host Test Device\" dev");
  auto* device = static_cast<TestDevice*>(fbhost::Devices().front());
  device->failStart = true;
  EXPECT_FALSE(Run("online dev on"));
  EXPECT_NE(mShell->LastError().find("Cannot start."), std::string::npos) << mShell->LastError();
  EXPECT_FALSE(device->Online.Get());
}

TEST_F(ShellTest, RecordsATakeAndExportsIt) {
  ReadyDevice();
  Must("step 3");
  // 0.1 s in steps of 20 ms: five samples, each keyed.
  Must("record 0.1");
  EXPECT_NE(mOut.Text().find("recorded take 'Take 001': 5 samples keyed"), std::string::npos)
      << mOut.Text();
  Must("export-bvh ${DIR}/out/take.bvh");
  Must("export-csv ${DIR}/out/take.csv");

  orbel::testing::ReferenceBvh bvh;
  std::string error;
  ASSERT_TRUE(
      orbel::testing::ParseReferenceBvh(ReadFile(mFolder.path() + "/out/take.bvh"), &bvh, &error))
      << error;
  ASSERT_EQ(bvh.frames.size(), 5u);
  ASSERT_EQ(bvh.joints.size(), 2u);
  EXPECT_EQ(bvh.joints[0].name, "Hips");
  EXPECT_EQ(bvh.joints[1].offset, Eigen::Vector3d(0, 10, 0));
  // Samples 4 to 8 (three were taken before recording): hips at (n, 2n, -n).
  for (int f = 0; f < 5; ++f) {
    const double n = 4 + f;
    EXPECT_EQ(bvh.LocalTranslation(0, f), Eigen::Vector3d(n, 2 * n, -n)) << f;
  }
  EXPECT_NEAR(bvh.frameTime, 0.020, 1e-12);

  const std::string csv = ReadFile(mFolder.path() + "/out/take.csv");
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "time,Sub:M1 x,Sub:M1 y,Sub:M1 z");
  EXPECT_NE(csv.find(",4,0,1\n"), std::string::npos) << csv;

  // '-' prints instead of writing.
  Must("export-bvh -");
  EXPECT_NE(mOut.Text().find("HIERARCHY\nROOT Hips\n"), std::string::npos);
}

TEST_F(ShellTest, DumpsDescribeDeviceTemplatesSceneTakeAndStats) {
  ReadyDevice();
  Must("record 0.04");

  const auto device = Json("dump device");
  EXPECT_EQ(device["name"], "dev");
  EXPECT_EQ(device["registeredClass"], "HostTestDevice");
  EXPECT_EQ(device["online"], true);
  EXPECT_EQ(device["live"], true);
  EXPECT_EQ(device["recording"], true);
  EXPECT_EQ(device["status"], "bound");
  EXPECT_EQ(device["templates"], 1);
  // A name that is not UTF-8 (typed, or from a damaged scene) still dumps.
  Must("add \"Host Test Device\" \"odd\xFFname\"");
  EXPECT_EQ(Json("dump device \"odd\xFFname\"")["name"], "odd\xEF\xBF\xBDname");

  const auto templates = Json("dump templates dev");
  const auto& root = templates["templates"][0];
  EXPECT_EQ(root["prefix"], "Test");
  EXPECT_EQ(root["styleName"], "root");
  EXPECT_EQ(root["model"], "Test");
  const auto& hips = root["children"][0]["children"][1];
  EXPECT_EQ(hips["name"], "Sub:Hips");
  EXPECT_EQ(hips["style"], 5);
  EXPECT_EQ(hips["nodes"][0]["dataType"], "Lcl Translation");
  EXPECT_EQ(hips["children"][0]["name"], "Sub:Spine");

  const auto scene = Json("dump scene");
  EXPECT_EQ(scene["modelCount"], 5);
  const auto& top = scene["models"][0];
  EXPECT_EQ(top["class"], "Root");
  EXPECT_EQ(top["children"][0]["label"], "RootNode");  // the test device's subject model
  const auto& marker = top["children"][0]["children"][0];
  EXPECT_EQ(marker["class"], "Marker");
  EXPECT_EQ(marker["color"], nlohmann::json::array({0.3, 0.9, 1.0}));
  EXPECT_EQ(marker["shading"], 1);

  const auto take = Json("dump take --keys");
  EXPECT_EQ(take["name"], "Take 001");
  EXPECT_EQ(take["current"], true);
  bool sawHips = false;
  for (const auto& curve : take["curves"]) {
    if (curve["node"] != "Sub:Hips Lcl Translation") continue;
    sawHips = true;
    EXPECT_EQ(curve["keys"], 2);
    EXPECT_EQ(curve["values"][0][1], 1.0);  // sample 1: (1, 2, -1)
    EXPECT_EQ(curve["values"][1][3], -2.0);
  }
  EXPECT_TRUE(sawHips);

  const auto stats = Json("dump stats dev");
  EXPECT_EQ(stats["samplesAcknowledged"], 2);
  EXPECT_EQ(stats["inputCalls"], 2);

  Must("dump scene --out ${DIR}/scene.json");
  EXPECT_EQ(nlohmann::json::parse(ReadFile(mFolder.path() + "/scene.json"))["modelCount"], 5);
}

TEST_F(ShellTest, DumpSettingsListsAFileByName) {
  WriteFile(mFolder.path() + "/settings.txt",
            "[DataStream]\nHostPort = \"801\"\nbroken line\n[Other]\nKey = \" spaced \"\n");
  const auto settings = Json("dump settings ${DIR}/settings.txt");
  EXPECT_EQ(settings["settings"]["DataStream"]["HostPort"], "801");
  EXPECT_EQ(settings["settings"]["Other"]["Key"], " spaced ");
  EXPECT_NE(settings["problems"].get<std::string>().find("'broken line'"), std::string::npos);

  const auto missing = Json("dump settings");
  EXPECT_TRUE(missing["settings"].empty());
  EXPECT_NE(missing["file"].get<std::string>().find("OrbelOpticalDevice.txt"), std::string::npos);

  EXPECT_FALSE(Run("dump settings @../escape.txt"));
  EXPECT_NE(mShell->LastError().find("@../escape.txt"), std::string::npos);
}

TEST_F(ShellTest, SavedScenesLoadBackAndBadOnesChangeNothing) {
  ReadyDevice();
  Must("save ${DIR}/scene.orbs");
  Must("remove dev");
  EXPECT_TRUE(fbhost::Devices().empty());
  Must("load ${DIR}/scene.orbs");
  ASSERT_EQ(fbhost::Devices().size(), 1u);
  EXPECT_EQ(fbhost::Devices().front()->GetLabelName().str(), "dev");
  EXPECT_EQ(fbhost::SceneModels().size(), 5u);

  WriteFile(mFolder.path() + "/bad.orbs", "orbel-scene 1\nmodels 2\n");
  EXPECT_FALSE(Run("load ${DIR}/bad.orbs"));
  EXPECT_NE(mShell->LastError().find("bad.orbs"), std::string::npos);
  EXPECT_EQ(fbhost::SceneModels().size(), 5u);
  EXPECT_EQ(fbhost::Devices().size(), 1u);

  EXPECT_FALSE(Run("save ${DIR}"));  // a folder
  EXPECT_FALSE(mShell->LastError().empty());
}

TEST_F(ShellTest, TakesCanBeMadeChosenAndExportedByName) {
  ReadyDevice();
  Must("record 0.02");
  Must("take new \"Second take\"");
  Must("record 0.06");
  Must("take list");
  EXPECT_NE(mOut.Text().find("  'Take 001': 5 curves, 1 sample\n"), std::string::npos)
      << mOut.Text();
  EXPECT_NE(mOut.Text().find("* 'Second take': 5 curves, 3 samples"), std::string::npos);
  Must("export-bvh ${DIR}/first.bvh \"Take 001\"");
  EXPECT_NE(mOut.Text().find(", 1 frame (one per sample)"), std::string::npos);
  Must("take use \"Take 001\"");
  EXPECT_EQ(fbhost::CurrentTake()->GetLabelName().str(), "Take 001");
  EXPECT_FALSE(Run("take new \"Take 001\""));
}

TEST_F(ShellTest, ScriptsStopAtTheFirstFailureAndSayWhere) {
  const std::string script = mFolder.path() + "/session.orbs";
  WriteFile(script,
            "# a session\r\n"
            "echo first\n"
            "\n"
            "online ghost on\n"
            "echo never\n");
  EXPECT_FALSE(mShell->RunScript(script));
  EXPECT_NE(mOut.Text().find("first"), std::string::npos);
  EXPECT_EQ(mOut.Text().find("never"), std::string::npos);
  EXPECT_NE(mErr.Text().find("session.orbs:4: no device is named 'ghost'"), std::string::npos)
      << mErr.Text();

  EXPECT_FALSE(mShell->RunScript(mFolder.path() + "/missing.orbs"));
  EXPECT_NE(mShell->LastError().find("missing.orbs"), std::string::npos);
}

TEST_F(ShellTest, CommandListsAndInteractiveSessions) {
  EXPECT_TRUE(mShell->RunCommands("echo a; echo \"b; c\"; echo d"));
  EXPECT_NE(mOut.Text().find("a\nb; c\nd\n"), std::string::npos) << mOut.Text();
  EXPECT_FALSE(mShell->RunCommands("echo e; bogus; echo f"));
  EXPECT_EQ(mOut.Text().find("f\n"), std::string::npos);
  EXPECT_NE(mErr.Text().find("-c command 2: unknown command 'bogus'"), std::string::npos);

  std::FILE* in = std::tmpfile();
  ASSERT_NE(in, nullptr);
  std::fputs("help add\nbogus\necho still here\nquit\necho after quit\n", in);
  std::rewind(in);
  EXPECT_FALSE(mShell->RunInteractive(in));  // one command failed
  std::fclose(in);
  EXPECT_TRUE(mShell->QuitRequested());
  EXPECT_NE(mOut.Text().find("usage: add LABEL [NAME]"), std::string::npos);
  EXPECT_NE(mOut.Text().find("still here"), std::string::npos);
  EXPECT_EQ(mOut.Text().find("after quit"), std::string::npos);
}

TEST_F(ShellTest, HelpNamesEveryCommand) {
  Must("help");
  for (const char* name :
       {"plugins",    "list",  "add",    "remove", "devices", "op",     "online",
        "arm",        "panel", "bind",   "unbind", "play",    "record", "stop",
        "wait",       "step",  "status", "take",   "save",    "load",   "export-bvh",
        "export-csv", "dump",  "echo",   "quit"}) {
    EXPECT_NE(mOut.Text().find(std::string("\n  ") + name), std::string::npos) << name;
  }
  EXPECT_FALSE(Run("help nothing"));
}

TEST_F(ShellTest, UnbindAndOperationsReachTheDevice) {
  ReadyDevice();
  auto* device = static_cast<TestDevice*>(fbhost::Devices().front());
  Must("devices");
  EXPECT_NE(mOut.Text().find("'dev' FBDevice online live armed | status 'bound'"),
            std::string::npos)
      << mOut.Text();
  Must("unbind dev");
  EXPECT_FALSE(device->bound);
  Must("op dev stop");
  EXPECT_EQ(device->stopCount, 1);
  EXPECT_FALSE(Run("op dev 2"));  // the base answers false to an unknown operation
  EXPECT_NE(mShell->LastError().find("answered false"), std::string::npos);
  Must("remove dev");
  EXPECT_TRUE(fbhost::Devices().empty());
}

TEST(ShellRealTime, StepIsRefusedAndWaitShowsTheStatusLine) {
  Capture out, err;
  ShellOptions options;
  Shell shell(options, out.file(), err.file());
  EXPECT_FALSE(shell.Run("step"));
  EXPECT_NE(shell.LastError().find("step mode"), std::string::npos);
  EXPECT_TRUE(shell.Run("wait 0.05"));
  EXPECT_NE(err.Text().find("status: no device online | "), std::string::npos) << err.Text();
  EXPECT_TRUE(shell.Run("play"));
  EXPECT_FALSE(shell.Run("play"));
  EXPECT_TRUE(shell.Run("stop"));
}

// Tab completion, from the commands' usage lines and forms and the scene.
TEST_F(ShellTest, CompletesCommandsNamesAndFiles) {
  Must("add \"Host Test Device\"");
  Must("add \"Host Test Device\" dev");
  Must("take new \"Take two\"");
  ASSERT_EQ(MakeFolders(mFolder.path() + "/takes"), 0);
  WriteFile(mFolder.path() + "/takes/walk.bvh", "");
  WriteFile(mFolder.path() + "/takes/walk_markers.csv", "");
  // Forward slashes: a backslash in a command line escapes the next letter.
  const std::string dir = std::filesystem::path(mFolder.path()).generic_string();
  struct Row {
    std::string left, replacement;
    std::vector<std::string> matches;
  };
  const Row rows[] = {
      {"ad", "add ", {"add"}},
      {"add \"Ho", "\"Host Test Device\" ", {"Host Test Device"}},
      {"online ", "", {"Host Test Device", "dev"}},
      {"remove \"Host Test Device\" d", "d", {}},
      {"panel dev s", "s", {"set-address", "set-port", "show", "strip"}},
      {"panel dev set-p", "set-port ", {"set-port"}},
      {"panel dev bones O", "O", {"off", "on"}},
      {"op dev re", "reset ", {"reset"}},
      {"take use T", "\"Take ", {"Take 001", "Take two"}},
      {"dump take --o", "--out ", {"--out"}},
      {"dump device --out " + dir + "/ta", dir + "/takes/", {dir + "/takes/"}},
      {"export-csv " + dir + "/takes/w",
       dir + "/takes/walk",
       {dir + "/takes/walk.bvh", dir + "/takes/walk_markers.csv"}},
      {"help pa", "panel ", {"panel"}},
      // Folders only where a folder is asked for; files after an option.
      {"plugins " + dir + "/takes/", dir + "/takes/", {}},
      {"export-bvh --subject x " + dir + "/takes/walk.",
       dir + "/takes/walk.bvh ",
       {dir + "/takes/walk.bvh"}},
      {"echo # ad", "# ad", {}},
  };
  for (const Row& row : rows) {
    const Completion c = mShell->Complete(row.left);
    EXPECT_EQ(c.replacement, row.replacement) << row.left;
    EXPECT_EQ(c.matches, row.matches) << row.left;
  }
}

#if !defined(_WIN32)  // no line editor, nor pseudo-terminals, on Windows
// The prompt's editor on a pseudo-terminal: Tab completes from the shell,
// Ctrl-D ends, and a second run recalls the first run's lines (Ctrl-P).
TEST_F(ShellTest, PromptEditsCompletesAndKeepsItsHistory) {
  Must("add \"Host Test Device\" dev");
  const std::string history = mFolder.path() + "/config/history";
  auto session = [&](const std::string& typed) {
    std::vector<std::string> lines;
    int master = -1, slave = -1;
    EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    // Raw already, so that the keys are not taken as line edits before the
    // editor reads them.
    termios mode{};
    tcgetattr(slave, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave, TCSANOW, &mode);
    EXPECT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    // The terminal hands written keys to the reading side later, on its own
    // thread; keys that arrive while the editor has the terminal in line mode
    // between two lines are taken as line edits (Ctrl-D lost). So wait until
    // every key is there, as a typist's keys would be.
    for (int waited = 0, ready = 0; waited < 5000; ++waited) {
      if (ioctl(slave, FIONREAD, &ready) == 0 && ready >= static_cast<int>(typed.size())) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::FILE* in = fdopen(slave, "r");
    std::FILE* out = fdopen(dup(slave), "w");
    auto editor = LineEditor::Open(in, out, history,
                                   [&](const std::string& left) { return mShell->Complete(left); });
    EXPECT_NE(editor, nullptr);
    std::string line;
    while (editor && editor->ReadLine("> ", &line) == LineEditor::Read::Line) lines.push_back(line);
    editor.reset();
    std::fclose(in);
    std::fclose(out);
    close(master);
    return lines;
  };
  EXPECT_EQ(session("ad\t\"Ho\tcam\ronline d\ton\r\x04"),
            (std::vector<std::string>{"add \"Host Test Device\" cam", "online dev on"}));
  EXPECT_EQ(session("\x10\x10\r\x04"), (std::vector<std::string>{"add \"Host Test Device\" cam"}));
}
#endif

}  // namespace
}  // namespace orbel::hostapp
