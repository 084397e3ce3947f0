// What each control does when the user acts on it: the option reaches the
// device, its reader and the settings file, and the control shows what the
// device took.
#include <functional>
#include <string>

#include "panel_fixture.h"

namespace orbel_layout_test {
namespace {

// ---- check boxes ----

struct CheckBoxCase {
  const char* name;
  const char* region;
  const char* key;
  std::function<bool(OrbelSimpleDeviceOptical&)> device;
  // The reader's copy of the option, where it keeps one without a
  // connection; the stream options live in the stream client, which only
  // answers while connected (see the live tests).
  std::function<bool(OrbelDataReader&)> reader;
};

class PanelCheckBoxTest : public PanelTest, public ::testing::WithParamInterface<CheckBoxCase> {};

TEST_P(PanelCheckBoxTest, TickingAndClearingReachesDeviceReaderAndFile) {
  const CheckBoxCase& c = GetParam();
  AddDeviceAndOpenPanel();
  ASSERT_EQ(State(c.region), 0);
  ASSERT_FALSE(c.device(*mDevice));

  for (const bool ticked : {true, false}) {
    SCOPED_TRACE(ticked ? "ticked" : "cleared");
    Click(c.region);
    EXPECT_EQ(State(c.region), ticked ? 1 : 0);
    EXPECT_EQ(c.device(*mDevice), ticked);
    if (c.reader) {
      EXPECT_EQ(c.reader(Reader()), ticked);
    }
    EXPECT_EQ(Setting(c.key), ticked ? "1" : "0");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, PanelCheckBoxTest,
    ::testing::Values(
        CheckBoxCase{"Bones", "ButtonEnableBones", "StreamBones",
                     [](OrbelSimpleDeviceOptical& d) { return d.StreamBones(); }, nullptr},
        CheckBoxCase{"Markers", "ButtonEnableMarkers", "StreamMarkers",
                     [](OrbelSimpleDeviceOptical& d) { return d.StreamMarkers(); }, nullptr},
        CheckBoxCase{"Unlabeled", "ButtonEnableUnlabeledMarkers", "StreamUnlabeledMarkers",
                     [](OrbelSimpleDeviceOptical& d) { return d.StreamUnlabeledMarkers(); },
                     nullptr},
        CheckBoxCase{"Timecode", "ButtonEnableTimecode", "UseTimecode",
                     [](OrbelSimpleDeviceOptical& d) { return d.UseTimecode(); },
                     [](OrbelDataReader& r) { return r.UseTimecode(); }},
        CheckBoxCase{"Strip", "ButtonEnableStripCharName", "StripCharacterNameFromObjectName",
                     [](OrbelSimpleDeviceOptical& d) { return d.StripCharacterName(); }, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PanelTest, OneStreamOptionLeavesTheOthersAlone) {
  AddDeviceAndOpenPanel();
  Click("ButtonEnableMarkers");
  EXPECT_EQ(State("ButtonEnableBones"), 0);
  EXPECT_EQ(State("ButtonEnableUnlabeledMarkers"), 0);
  EXPECT_FALSE(mDevice->StreamBones());
  EXPECT_FALSE(mDevice->StreamUnlabeledMarkers());
  EXPECT_EQ(Setting("StreamBones"), "0");
}

// ---- edits ----

struct EditCase {
  const char* name;
  const char* region;
  const char* typed;
  const char* shown;  // what the edit shows afterwards
  const char* key;
  const char* stored;  // what the settings file holds afterwards
  std::function<std::string(OrbelDataReader&)> reader;
  bool complaint;  // the device's information text quotes the input
};

class PanelEditTest : public PanelTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(PanelEditTest, TypingReachesDeviceReaderAndFile) {
  const EditCase& c = GetParam();
  AddDeviceAndOpenPanel();
  const std::string informationBefore = mDevice->Information.Get().str();
  Type(c.region, c.typed);
  EXPECT_EQ(EditText(c.region), c.shown);
  EXPECT_EQ(c.reader(Reader()), c.shown);
  EXPECT_EQ(Setting(c.key), c.stored);
  const std::string information = mDevice->Information.Get().str();
  if (c.complaint) {
    EXPECT_NE(information.find(std::string("'") + c.typed + "'"), std::string::npos) << information;
  } else {
    EXPECT_EQ(information, informationBefore);
  }
}

std::string ReaderHost(OrbelDataReader& r) { return r.ServerHost().str(); }
std::string ReaderPort(OrbelDataReader& r) { return r.ServerPort().str(); }
std::string ReaderCount(OrbelDataReader& r) { return std::to_string(r.unlabeledMarkerCount); }

INSTANTIATE_TEST_SUITE_P(
    Edits, PanelEditTest,
    ::testing::Values(EditCase{"Address", "EditNetworkAddress", "stage-a", "stage-a", "HostAddress",
                               "stage-a", ReaderHost, false},
                      // Kept exactly as typed, blanks and all.
                      EditCase{"AddressWithBlanks", "EditNetworkAddress", " stage b ", " stage b ",
                               "HostAddress", " stage b ", ReaderHost, false},
                      EditCase{"Port", "EditNetworkPort", "802", "802", "HostPort", "802",
                               ReaderPort, false},
                      // A port the stream client cannot use is kept, and the user is told.
                      EditCase{"PortNotANumber", "EditNetworkPort", "abc", "abc", "HostPort", "abc",
                               ReaderPort, true},
                      EditCase{"PortOutOfRange", "EditNetworkPort", "70000", "70000", "HostPort",
                               "70000", ReaderPort, true},
                      EditCase{"Count", "EditUnlabeledMarkerCount", "250", "250",
                               "UnlabeledMarkerCount", "250", ReaderCount, false},
                      EditCase{"CountWithBlanks", "EditUnlabeledMarkerCount", " 250 ", "250",
                               "UnlabeledMarkerCount", "250", ReaderCount, false},
                      EditCase{"CountLetters", "EditUnlabeledMarkerCount", "abc", "0",
                               "UnlabeledMarkerCount", "0", ReaderCount, true},
                      EditCase{"CountThenLetters", "EditUnlabeledMarkerCount", "12xy", "12",
                               "UnlabeledMarkerCount", "12", ReaderCount, true},
                      EditCase{"CountEmpty", "EditUnlabeledMarkerCount", "", "0",
                               "UnlabeledMarkerCount", "0", ReaderCount, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PanelTest, TheCountEditShowsTheCountTheDeviceTook) {
  AddDeviceAndOpenPanel();
  // Beyond what the device accepts, in either direction, and beyond int.
  for (const char* typed : {"-5", "99999999999", "-99999999999"}) {
    SCOPED_TRACE(typed);
    Type("EditUnlabeledMarkerCount", typed);
    const std::string shown = EditText("EditUnlabeledMarkerCount");
    EXPECT_EQ(shown, mDevice->UnlabeledMarkerCountText());
    EXPECT_EQ(shown, std::to_string(Reader().unlabeledMarkerCount));
    EXPECT_EQ(Setting("UnlabeledMarkerCount"), shown);
    EXPECT_GE(Reader().unlabeledMarkerCount, 0);
  }
}

// A complaint about an entry lasts while the entry is wrong, gives way to the
// other entry's complaint, and never covers what the device said since.
TEST_F(PanelTest, AComplaintGoesOnceItsEntryIsMended) {
  AddDeviceAndOpenPanel();
  const std::string version = mDevice->Information.Get().str();
  const std::string badPort = "Port 'abc' is not a number from 1 to 65535";
  const std::string badCount = "Marker count '1e3' is not a number: 1 is used";
  struct Step {
    const char* region;
    const char* typed;
    std::string information;
  };
  const Step steps[] = {
      {"EditNetworkPort", "abc", badPort},
      {"EditUnlabeledMarkerCount", "1e3", badCount},
      {"EditNetworkPort", "801", badCount},
      {"EditUnlabeledMarkerCount", "-5", "Marker count '-5' is out of range: 0 is used"},
      {"EditUnlabeledMarkerCount", "12", version},
      {"EditNetworkPort", "abc", badPort},
      {"EditUnlabeledMarkerCount", "99999999999",
       "Marker count '99999999999' is out of range: 100000 is used"},
      {"EditUnlabeledMarkerCount", "7", badPort},
      {"EditNetworkPort", "802", version},
  };
  for (const Step& step : steps) {
    Type(step.region, step.typed);
    EXPECT_EQ(mDevice->Information.Get().str(), step.information) << step.typed;
  }
  Type("EditNetworkPort", "0");
  mDevice->Information = "Cannot connect to server.";
  Type("EditNetworkPort", "801");
  EXPECT_EQ(mDevice->Information.Get().str(), "Cannot connect to server.");
}

// ---- the coordinate frame ----

TEST_F(PanelTest, ChoosingTheCoordinateFrameSetsTheAxisMapping) {
  AddDeviceAndOpenPanel();
  const struct {
    const char* item;
    int axis;
  } kChoices[] = {{"Z-Up", 1}, {"Y-Up", 0}, {"Z-Up", 1}};
  for (const auto& choice : kChoices) {
    SCOPED_TRACE(choice.item);
    Choose("mListAxisMapping", choice.item);
    EXPECT_EQ(mDevice->AxisMapping(), choice.axis);
    EXPECT_EQ(Setting("AxisMapping"), std::to_string(choice.axis));
    auto& list = ControlIn<FBList>("mListAxisMapping");
    EXPECT_EQ(list.Items.GetAt(list.ItemIndex).str(), choice.item);
  }
}

TEST_F(PanelTest, EveryRefreshWritesTheAxisChoiceBack) {
  AddDeviceAndOpenPanel();
  Choose("mListAxisMapping", "Z-Up");
  // Changed behind the panel's back (another device sharing the file).
  WriteSetting("AxisMapping", "0");
  Click("ButtonEnableBones");
  EXPECT_EQ(Setting("AxisMapping"), "1");
  EXPECT_EQ(mDevice->AxisMapping(), 1);
}

// ---- the tab strip ----

TEST_F(PanelTest, ChoosingTheFirstTabPutsTheMainLayoutBack) {
  AddDeviceAndOpenPanel();
  FBLayout* page = mPanel->Layout();
  FBVisualComponent* main = page->GetControl("MainLayout");
  ASSERT_NE(main, nullptr);
  // The strip comes without tabs; a host that gives it some raises the
  // change event.
  auto& tabs = ControlIn<FBTabPanel>("TabPanel");
  tabs.Items.Add("Main");
  tabs.Items.Add("More");
  ASSERT_TRUE(page->ClearControl("MainLayout"));
  std::string error;
  ASSERT_TRUE(mPanel->ChooseIndex("TabPanel", 1, &error)) << error;
  EXPECT_EQ(page->GetControl("MainLayout"), nullptr);
  ASSERT_TRUE(mPanel->ChooseIndex("TabPanel", 0, &error)) << error;
  EXPECT_EQ(page->GetControl("MainLayout"), main);
}

// ---- pause, without a stream ----

TEST_F(PanelTest, ThePauseButtonTogglesAndLeavesTheReaderUnpaused) {
  AddDeviceAndOpenPanel();
  const struct {
    const char* caption;
    bool paused;
  } kClicks[] = {{"Resume Live Streaming", true}, {"Pause Live Streaming", false}};
  for (const auto& step : kClicks) {
    Click("ButtonPause");
    EXPECT_EQ(Caption("ButtonPause"), step.caption);
    EXPECT_EQ(mDevice->Paused(), step.paused);
    EXPECT_EQ(Reader().Paused(), step.paused);
  }
  // The paused flag is not an option kept between runs.
  EXPECT_EQ(Setting("Paused"), "<missing>");
}

}  // namespace
}  // namespace orbel_layout_test
