// The panel as it opens: what every control shows for the device's options,
// where every region lands, and what the panel is to the host.
#include <string>
#include <vector>

#include <fbhost/components.h>
#include <fbhost/registry.h>
#include <fbsdk/fbregistry.h>

#include "orbel_registration.h"
#include "panel_fixture.h"

namespace orbel_layout_test {
namespace {

// ---- what the default panel shows ----

struct ShownText {
  const char* region;
  const char* kind;  // as the host names the control's kind
  const char* text;  // caption, edit text or chosen item
};

const ShownText kDefaultPanel[] = {
    {"LabelNetworkAddress", "Label", "Server Address:"},
    {"EditNetworkAddress", "Edit", "localhost"},
    {"LabelNetworkPort", "Label", "Port:"},
    {"EditNetworkPort", "Edit", "801"},
    {"mLabelAxisMapping", "Label", "Coordinate Frame:"},
    {"mListAxisMapping", "List", "Y-Up"},
    {"ButtonEnableBones", "Button", "Stream Bones"},
    {"ButtonEnableMarkers", "Button", "Stream Labeled Markers"},
    {"ButtonEnableUnlabeledMarkers", "Button", "Stream Unlabeled Markers"},
    {"LabelUnlabeledMarkerCount", "Label", "Marker Count:"},
    {"EditUnlabeledMarkerCount", "Edit", "100"},
    {"ButtonEnableStripCharName", "Button", "Remove Character Name from Object Name"},
    {"ButtonEnableTimecode", "Button", "Use Timecode"},
    {"ButtonPause", "Button", "Pause Live Streaming"},
    {"ButtonReset", "Button", "Remove Unused Characters"},
    {"LabelVersionInfo", "Label", "Version: 1.0.60794"},
};

TEST_F(PanelTest, DefaultPanelShowsTheDefaultOptions) {
  AddDeviceAndOpenPanel();
  for (const ShownText& row : kDefaultPanel) {
    SCOPED_TRACE(row.region);
    fbhost::PanelRegion region;
    ASSERT_TRUE(mPanel->FindRegion(row.region, &region));
    EXPECT_EQ(region.kind, row.kind);
    EXPECT_TRUE(region.error.empty()) << region.error;
    std::string shown;
    if (auto* label = dynamic_cast<FBLabel*>(region.control)) shown = label->Caption.Get().str();
    if (auto* edit = dynamic_cast<FBEdit*>(region.control)) shown = edit->Text.Get().str();
    if (auto* button = dynamic_cast<FBButton*>(region.control)) shown = button->Caption.Get().str();
    if (auto* list = dynamic_cast<FBList*>(region.control)) {
      EXPECT_EQ(list->Items.GetCount(), 2);
      shown = list->Items.GetAt(list->ItemIndex).str();
    }
    EXPECT_EQ(shown, row.text);
  }
}

TEST_F(PanelTest, OptionBoxesAreClearCheckBoxesAndTheCommandsPushButtons) {
  AddDeviceAndOpenPanel();
  for (const char* box :
       {"ButtonEnableBones", "ButtonEnableMarkers", "ButtonEnableUnlabeledMarkers",
        "ButtonEnableStripCharName", "ButtonEnableTimecode"}) {
    SCOPED_TRACE(box);
    EXPECT_EQ(ControlIn<FBButton>(box).Style.Get(), kFBCheckbox);
    EXPECT_EQ(State(box), 0);
  }
  for (const char* button : {"ButtonPause", "ButtonReset"}) {
    SCOPED_TRACE(button);
    EXPECT_EQ(ControlIn<FBButton>(button).Style.Get(), kFBPushButton);
  }
  // The list's items carry the axis mapping values the device takes.
  auto& list = ControlIn<FBList>("mListAxisMapping");
  EXPECT_EQ(list.Items.GetAt(1).str(), "Z-Up");
  EXPECT_EQ(list.Items.GetReferenceAt(0), 0);
  EXPECT_EQ(list.Items.GetReferenceAt(1), 1);
}

// ---- where the regions land ----

struct ExpectedRect {
  const char* region;
  int x, y, width, height;  // in the main layout's pixels
};

// Worked out by hand from the rows: 18-pixel rows 4 pixels apart, the edit
// column 4 pixels right of the 100-pixel labels, the two wide rows at twice
// 250 pixels, and the gaps of 0, 9, 9 and 18 pixels above the timecode box,
// the two buttons and the version line.
const ExpectedRect kMainRegions[] = {
    {"LabelNetworkAddress", 4, 4, 100, 18},
    {"EditNetworkAddress", 108, 4, 150, 18},
    {"LabelNetworkPort", 4, 26, 100, 18},
    {"EditNetworkPort", 108, 26, 150, 18},
    {"mLabelAxisMapping", 4, 48, 100, 18},
    {"mListAxisMapping", 108, 48, 150, 18},
    {"ButtonEnableBones", 4, 70, 100, 18},
    {"ButtonEnableMarkers", 108, 70, 150, 18},
    {"ButtonEnableUnlabeledMarkers", 4, 92, 500, 18},
    {"LabelUnlabeledMarkerCount", 25, 114, 100, 18},
    {"EditUnlabeledMarkerCount", 108, 114, 150, 18},
    {"ButtonEnableStripCharName", 4, 136, 250, 18},
    {"ButtonEnableTimecode", 4, 154, 150, 18},
    {"ButtonPause", 4, 181, 253, 18},
    {"ButtonReset", 4, 208, 253, 18},
    {"LabelVersionInfo", 4, 244, 500, 18},
};

TEST_F(PanelTest, RegionsLandWhereTheirAttachmentsPutThem) {
  AddDeviceAndOpenPanel();
  // The tab strip hangs 5 pixels in from the standard parameters and spans
  // the page; the main layout fills the rest, 5 pixels in from each side.
  fbhost::PanelRegion tab, main;
  ASSERT_TRUE(mPanel->FindRegion("TabPanel", &tab));
  ASSERT_TRUE(mPanel->FindRegion("MainLayout", &main));
  EXPECT_EQ(tab.kind, "TabPanel");
  EXPECT_EQ(main.kind, "Layout");
  EXPECT_EQ(main.border.style, kFBStandardBorder);
  const int w = mPanel->Width(), h = mPanel->Height();
  EXPECT_EQ((std::vector<int>{tab.x, tab.y, tab.width, tab.height}),
            (std::vector<int>{5, 0, w - 5, 25}));
  EXPECT_EQ((std::vector<int>{main.x, main.y, main.width, main.height}),
            (std::vector<int>{10, 30, w - 15, h - 35}));

  for (const ExpectedRect& row : kMainRegions) {
    SCOPED_TRACE(row.region);
    fbhost::PanelRegion region;
    ASSERT_TRUE(mPanel->FindRegion(std::string("MainLayout/") + row.region, &region));
    EXPECT_TRUE(region.error.empty()) << region.error;
    EXPECT_EQ(region.title, row.region);
    EXPECT_NE(region.control, nullptr);
    EXPECT_EQ((std::vector<int>{region.localX, region.localY, region.width, region.height}),
              (std::vector<int>{row.x, row.y, row.width, row.height}));
    EXPECT_EQ(region.x, main.x + row.x);
    EXPECT_EQ(region.y, main.y + row.y);
    // Every row fits the page the host opens by default.
    EXPECT_LE(region.localX + region.width, main.width);
    EXPECT_LE(region.localY + region.height, main.height);
  }
}

TEST_F(PanelTest, TheAddressEditSitsBesideItsLabel) {
  AddDeviceAndOpenPanel();
  fbhost::PanelRegion label, edit;
  ASSERT_TRUE(mPanel->FindRegion("LabelNetworkAddress", &label));
  ASSERT_TRUE(mPanel->FindRegion("EditNetworkAddress", &edit));
  EXPECT_EQ(edit.x, label.x + label.width + 4);
  EXPECT_EQ(edit.y, label.y);
  EXPECT_EQ(edit.width, 150);
  EXPECT_EQ(edit.height, 18);
}

TEST_F(PanelTest, NoTwoControlsOverlap) {
  AddDeviceAndOpenPanel();
  std::vector<fbhost::PanelRegion> rows;
  for (const auto& region : mPanel->Regions()) {
    if (region.depth == 1) rows.push_back(region);
  }
  ASSERT_EQ(rows.size(), 16u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    for (std::size_t j = i + 1; j < rows.size(); ++j) {
      const auto& a = rows[i];
      const auto& b = rows[j];
      const bool apart = a.x + a.width <= b.x || b.x + b.width <= a.x || a.y + a.height <= b.y ||
                         b.y + b.height <= a.y;
      // The indented count label reaches under its edit; its caption ends
      // well before the edit starts.
      if (a.name == "LabelUnlabeledMarkerCount" && b.name == "EditUnlabeledMarkerCount") continue;
      EXPECT_TRUE(apart) << a.name << " overlaps " << b.name;
    }
  }
}

// ---- the device's options at opening ----

struct OpeningCase {
  const char* name;
  const char* key;  // written to the settings file before the device is added
  const char* value;
  const char* region;
  int state;           // expected check box state, or -1 for the list
  const char* chosen;  // expected list item
};

class PanelOpeningTest : public PanelTest, public ::testing::WithParamInterface<OpeningCase> {};

TEST_P(PanelOpeningTest, ShowsTheDeviceOptions) {
  const OpeningCase& c = GetParam();
  WriteSetting(c.key, c.value);
  AddDeviceAndOpenPanel();
  if (c.state >= 0) {
    EXPECT_EQ(State(c.region), c.state);
  } else {
    auto& list = ControlIn<FBList>(c.region);
    EXPECT_EQ(list.Items.GetAt(list.ItemIndex).str(), c.chosen);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, PanelOpeningTest,
    ::testing::Values(OpeningCase{"ZUp", "AxisMapping", "1", "mListAxisMapping", -1, "Z-Up"},
                      OpeningCase{"YUp", "AxisMapping", "0", "mListAxisMapping", -1, "Y-Up"},
                      OpeningCase{"Bones", "StreamBones", "1", "ButtonEnableBones", 1, ""},
                      OpeningCase{"Markers", "StreamMarkers", "1", "ButtonEnableMarkers", 1, ""},
                      OpeningCase{"Unlabeled", "StreamUnlabeledMarkers", " 7",
                                  "ButtonEnableUnlabeledMarkers", 1, ""},
                      OpeningCase{"Strip", "StripCharacterNameFromObjectName", "1",
                                  "ButtonEnableStripCharName", 1, ""},
                      OpeningCase{"Timecode", "UseTimecode", "1", "ButtonEnableTimecode", 1, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PanelTest, AnAxisMappingOutsideTheListShowsAsZUpAndIsKeptAsOne) {
  // The reader already treats it as "Z-Up"; opening the panel must not turn
  // the device to "Y-Up" behind the user's back.
  WriteSetting("AxisMapping", "7");
  AddDeviceAndOpenPanel();
  auto& list = ControlIn<FBList>("mListAxisMapping");
  EXPECT_EQ(list.Items.GetAt(list.ItemIndex).str(), "Z-Up");
  EXPECT_EQ(mDevice->AxisMapping(), 1);
  EXPECT_EQ(Setting("AxisMapping"), "1");
}

TEST_F(PanelTest, OpeningWritesTheAxisChoiceToTheSettingsFile) {
  WriteSetting("AxisMapping", "1");
  AddDeviceAndOpenPanel();
  EXPECT_EQ(mDevice->AxisMapping(), 1);
  EXPECT_EQ(Setting("AxisMapping"), "1");
}

TEST_F(PanelTest, APanelOpenedWhilePausedOffersToResume) {
  AddDeviceAndOpenPanel();
  mPanel.reset();
  mDevice->SetPaused(true);
  OpenPanel();
  EXPECT_EQ(Caption("ButtonPause"), "Resume Live Streaming");
  // The first click resumes.
  Click("ButtonPause");
  EXPECT_EQ(Caption("ButtonPause"), "Pause Live Streaming");
  EXPECT_FALSE(mDevice->Paused());
  EXPECT_FALSE(Reader().Paused());
}

TEST_F(PanelTest, ReopeningShowsWhatTheUserSet) {
  AddDeviceAndOpenPanel();
  Click("ButtonEnableMarkers");
  Type("EditUnlabeledMarkerCount", "42");
  Choose("mListAxisMapping", "Z-Up");
  mPanel.reset();
  OpenPanel();
  EXPECT_EQ(State("ButtonEnableMarkers"), 1);
  EXPECT_EQ(EditText("EditUnlabeledMarkerCount"), "42");
  auto& list = ControlIn<FBList>("mListAxisMapping");
  EXPECT_EQ(list.Items.GetAt(list.ItemIndex).str(), "Z-Up");
}

// ---- what the panel is to the host ----

TEST_F(PanelTest, AnswersItsClassAndTypes) {
  AddDeviceAndOpenPanel();
  FBLayout* layout = mPanel->Layout();
  ASSERT_NE(layout, nullptr);
  EXPECT_STREQ(layout->ClassName(), "OrbelDeviceOpticalLayout");
  EXPECT_EQ(layout->GetTypeId(), gOrbelLayoutTypeInfo);
  for (int type : {gOrbelLayoutTypeInfo, FBDeviceLayout::TypeInfo, FBLayout::TypeInfo,
                   FBVisualComponent::TypeInfo, FBComponent::TypeInfo, FBPlug::TypeInfo}) {
    EXPECT_TRUE(layout->Is(type)) << type;
  }
  for (int type : {gOrbelDeviceTypeInfo, FBDevice::TypeInfo, FBButton::TypeInfo}) {
    EXPECT_FALSE(layout->Is(type)) << type;
  }
}

TEST_F(PanelTest, ClosingThePanelLetsGoOfTheIdleEventAndTheDevice) {
  AddDeviceAndOpenPanel();
  mPanel.reset();
  const int idleBefore = fbhost::UIIdleHandlerCount();
  const int stateBefore = mDevice->OnStateChange.GetCount();
  OpenPanel();
  EXPECT_EQ(fbhost::UIIdleHandlerCount(), idleBefore + 1);
  EXPECT_EQ(mDevice->OnStateChange.GetCount(), stateBefore + 1);
  mPanel.reset();
  EXPECT_EQ(fbhost::UIIdleHandlerCount(), idleBefore);
  EXPECT_EQ(mDevice->OnStateChange.GetCount(), stateBefore);
  // The device's state changes and idle ticks after closing reach nothing.
  mDevice->Live = true;
  mDevice->Live = false;
  fbhost::RaiseUIIdle();
}

TEST_F(PanelTest, TheFactoryMakesNoPanelForAnythingButTheDevice) {
  AddDeviceAndOpenPanel();
  // No object at all, and an object of another class (a control).
  FBButton stranger;
  const auto componentsBefore = fbhost::LiveComponentCount();
  for (void* data : {static_cast<void*>(nullptr), stranger.GetHIObject()}) {
    EXPECT_EQ(OrbelLayoutFactory(nullptr, nullptr, data), nullptr);
  }
  EXPECT_EQ(fbhost::LiveComponentCount(), componentsBefore);
  // The device's own handle makes a panel.
  HIObject handle = OrbelLayoutFactory(nullptr, nullptr, mDevice->GetHIObject());
  ASSERT_NE(handle, nullptr);
  FBComponent* made = FBGetFBObject(handle);
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->Is(gOrbelLayoutTypeInfo));
  made->FBDelete();
  EXPECT_EQ(fbhost::LiveComponentCount(), componentsBefore);
}

}  // namespace
}  // namespace orbel_layout_test
