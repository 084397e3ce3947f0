// The panel's construction: type queries, creation, the regions with their
// attachments, and every control's caption, style, items and initial value.
#include "OrbelDeviceOpticalLayout.h"

#include <cstdio>

#include "orbel_defaults.h"
#include "orbel_version.h"

namespace {

// One attachment of a region: offset, attach type, the region attached to
// ("" is the enclosing layout) and multiplier.
struct Attachment {
  int offset;
  FBAttachType type;
  const char* relative;
  float multiplier;
};

struct RegionSpec {
  const char* name;
  Attachment x, y, width, height;
};

constexpr FBAttachType kLeft = kFBAttachLeft;
constexpr FBAttachType kRight = kFBAttachRight;
constexpr FBAttachType kTop = kFBAttachTop;
constexpr FBAttachType kBottom = kFBAttachBottom;
constexpr FBAttachType kHeight = kFBAttachHeight;
constexpr FBAttachType kNone = kFBAttachNone;

// The panel's own regions: the tab strip under the host's standard
// parameters, and the main layout below it, filling the rest.
constexpr RegionSpec kPanelRegions[] = {
    {"TabPanel",
     {5, kLeft, "StandardParams", 1.0f},
     {0, kTop, "StandardParams", 1.0f},
     {0, kRight, "", 1.0f},
     {25, kNone, "", 1.0f}},
    {"MainLayout",
     {5, kLeft, "TabPanel", 1.0f},
     {5, kBottom, "TabPanel", 1.0f},
     {-5, kRight, "TabPanel", 1.0f},
     {-5, kBottom, "", 1.0f}},
};

// The main layout's rows, top to bottom. Each row hangs from the one above
// it, so moving a row moves everything below.
constexpr RegionSpec kMainRegions[] = {
    {"LabelNetworkAddress",
     {4, kLeft, "", 1.0f},
     {4, kTop, "", 1.0f},
     {100, kNone, "", 1.0f},
     {18, kNone, "", 1.0f}},
    {"EditNetworkAddress",
     {4, kRight, "LabelNetworkAddress", 1.0f},
     {0, kTop, "LabelNetworkAddress", 1.0f},
     {150, kNone, "", 1.0f},
     {0, kHeight, "LabelNetworkAddress", 1.0f}},
    {"LabelNetworkPort",
     {4, kLeft, "", 1.0f},
     {4, kBottom, "LabelNetworkAddress", 1.0f},
     {100, kNone, "", 1.0f},
     {18, kNone, "", 1.0f}},
    {"EditNetworkPort",
     {4, kRight, "LabelNetworkPort", 1.0f},
     {0, kTop, "LabelNetworkPort", 1.0f},
     {150, kNone, "", 1.0f},
     {0, kHeight, "LabelNetworkPort", 1.0f}},
    {"mLabelAxisMapping",
     {4, kLeft, "", 1.0f},
     {4, kBottom, "LabelNetworkPort", 1.0f},
     {100, kNone, "", 1.0f},
     {0, kHeight, "LabelNetworkAddress", 1.0f}},
    {"mListAxisMapping",
     {4, kRight, "mLabelAxisMapping", 1.0f},
     {0, kTop, "mLabelAxisMapping", 1.0f},
     {150, kNone, "", 1.0f},
     {0, kHeight, "mLabelAxisMapping", 1.0f}},
    {"ButtonEnableBones",
     {4, kLeft, "", 1.0f},
     {4, kBottom, "mLabelAxisMapping", 1.0f},
     {100, kNone, "", 1.0f},
     {0, kHeight, "mListAxisMapping", 1.0f}},
    {"ButtonEnableMarkers",
     {0, kLeft, "EditNetworkPort", 1.0f},
     {0, kTop, "ButtonEnableBones", 1.0f},
     {150, kNone, "", 1.0f},
     {0, kHeight, "ButtonEnableBones", 1.0f}},
    {"ButtonEnableUnlabeledMarkers",
     {4, kLeft, "", 1.0f},
     {4, kBottom, "ButtonEnableBones", 1.0f},
     {250, kNone, "", 2.0f},
     {0, kHeight, "ButtonEnableBones", 1.0f}},
    {"LabelUnlabeledMarkerCount",
     {25, kLeft, "", 1.0f},
     {4, kBottom, "ButtonEnableUnlabeledMarkers", 1.0f},
     {100, kNone, "", 1.0f},
     {0, kHeight, "ButtonEnableUnlabeledMarkers", 1.0f}},
    {"EditUnlabeledMarkerCount",
     {0, kLeft, "ButtonEnableMarkers", 1.0f},
     {0, kTop, "LabelUnlabeledMarkerCount", 1.0f},
     {150, kNone, "", 1.0f},
     {0, kHeight, "LabelUnlabeledMarkerCount", 1.0f}},
    {"ButtonEnableStripCharName",
     {4, kLeft, "", 1.0f},
     {4, kBottom, "LabelUnlabeledMarkerCount", 1.0f},
     {250, kNone, "", 1.0f},
     {0, kHeight, "LabelUnlabeledMarkerCount", 1.0f}},
    {"ButtonEnableTimecode",
     {4, kLeft, "", 1.0f},
     {0, kBottom, "ButtonEnableStripCharName", 1.0f},
     {150, kNone, "", 1.0f},
     {0, kHeight, "ButtonEnableStripCharName", 1.0f}},
    {"ButtonPause",
     {4, kLeft, "", 1.0f},
     {9, kBottom, "ButtonEnableTimecode", 1.0f},
     {253, kNone, "", 1.0f},
     {0, kHeight, "ButtonEnableTimecode", 1.0f}},
    {"ButtonReset",
     {4, kLeft, "", 1.0f},
     {9, kBottom, "ButtonPause", 1.0f},
     {253, kNone, "", 1.0f},
     {0, kHeight, "ButtonPause", 1.0f}},
    {"LabelVersionInfo",
     {4, kLeft, "", 1.0f},
     {18, kBottom, "ButtonReset", 1.0f},
     {250, kNone, "", 2.0f},
     {0, kHeight, "ButtonReset", 1.0f}},
};

// Every region's title is its name.
void AddRegions(FBLayout& layout, const RegionSpec* begin, const RegionSpec* end) {
  for (const RegionSpec* r = begin; r != end; ++r) {
    layout.AddRegion(r->name, r->name,                                        //
                     r->x.offset, r->x.type, r->x.relative, r->x.multiplier,  //
                     r->y.offset, r->y.type, r->y.relative, r->y.multiplier,  //
                     r->width.offset, r->width.type, r->width.relative,       //
                     r->width.multiplier,                                     //
                     r->height.offset, r->height.type, r->height.relative,    //
                     r->height.multiplier);
  }
}

}  // namespace

OrbelDeviceOpticalLayout::OrbelDeviceOpticalLayout(FBDevice* device) : FBDeviceLayout(device) {}

OrbelDeviceOpticalLayout::~OrbelDeviceOpticalLayout() = default;

// ---- type queries ----

const char* OrbelDeviceOpticalLayout::ClassName() { return kClassName; }

bool OrbelDeviceOpticalLayout::Is(int typeId) {
  // The layout's own bases are answered above; everything else is the
  // component's to answer, so the call skips the intermediate overrides.
  return typeId == gOrbelLayoutTypeInfo || typeId == FBDeviceLayout::TypeInfo ||
         typeId == FBLayout::TypeInfo || typeId == FBVisualComponent::TypeInfo ||
         FBComponent::Is(typeId);  // NOLINT(bugprone-parent-virtual-call)
}

int OrbelDeviceOpticalLayout::GetTypeId() { return gOrbelLayoutTypeInfo; }

// ---- creation ----

void OrbelDeviceOpticalLayout::FBDelete() { FBComponent::FBDelete(); }

bool OrbelDeviceOpticalLayout::FBCreate() {
  if (!FBComponent::FBCreate()) return false;

  // Every handler reaches the device through its own class; a layout made
  // for no device, or for another class, would act on memory that is not an
  // OrbelSimpleDeviceOptical, so it refuses creation instead.
  FBDevice* device = Device;
  if (device == nullptr || !device->Is(gOrbelDeviceTypeInfo)) return false;
  mDevice = static_cast<OrbelSimpleDeviceOptical*>(device);

  // The reader treats every axis mapping but 0 as "Z-Up"; the list shows a
  // stored value outside its items the same way, rather than falling back
  // to "Y-Up" and handing that to the device at the first refresh.
  mAxisMapping = mDevice->AxisMapping() == 0 ? 0 : 1;
  mStreamBones = mDevice->StreamBones();
  mStreamMarkers = mDevice->StreamMarkers();
  mStreamUnlabeledMarkers = mDevice->StreamUnlabeledMarkers();
  mPaused = mDevice->Paused();

  BuildRegions();
  ConfigureControls();
  RefreshControls();

  mSystem.OnUIIdle.Add(this, &OrbelDeviceOpticalLayout::IdleRefresh);
  mDevice->OnStateChange.Add(this, &OrbelDeviceOpticalLayout::DeviceStateChanged);
  return true;
}

void OrbelDeviceOpticalLayout::BuildRegions() {
  AddRegions(*this, std::begin(kPanelRegions), std::end(kPanelRegions));
  SetControl("TabPanel", mTabPanel);
  SetControl("MainLayout", mMainLayout);

  AddRegions(mMainLayout, std::begin(kMainRegions), std::end(kMainRegions));
  mMainLayout.SetControl("LabelNetworkAddress", mLabelNetworkAddress);
  mMainLayout.SetControl("EditNetworkAddress", mEditNetworkAddress);
  mMainLayout.SetControl("LabelNetworkPort", mLabelNetworkPort);
  mMainLayout.SetControl("EditNetworkPort", mEditNetworkPort);
  mMainLayout.SetControl("mListAxisMapping", mListAxisMapping);
  mMainLayout.SetControl("mLabelAxisMapping", mLabelAxisMapping);
  mMainLayout.SetControl("ButtonEnableBones", mButtonEnableBones);
  mMainLayout.SetControl("ButtonEnableMarkers", mButtonEnableMarkers);
  mMainLayout.SetControl("ButtonEnableUnlabeledMarkers", mButtonEnableUnlabeledMarkers);
  mMainLayout.SetControl("LabelUnlabeledMarkerCount", mLabelUnlabeledMarkerCount);
  mMainLayout.SetControl("EditUnlabeledMarkerCount", mEditUnlabeledMarkerCount);
  mMainLayout.SetControl("ButtonEnableTimecode", mButtonEnableTimecode);
  mMainLayout.SetControl("ButtonEnableStripCharName", mButtonEnableStripCharName);
  mMainLayout.SetControl("ButtonPause", mButtonPause);
  mMainLayout.SetControl("ButtonReset", mButtonReset);
  mMainLayout.SetControl("LabelVersionInfo", mLabelVersionInfo);
}

void OrbelDeviceOpticalLayout::ConfigureControls() {
  SetBorder("MainLayout", kFBStandardBorder, false, true, 1, 0, 90.0f, 0);
  mTabPanel.OnChange.Add(this, &OrbelDeviceOpticalLayout::OnTabChange);

  mLabelNetworkAddress.Caption = "Server Address:";
  mEditNetworkAddress.Text = mDevice->HostAddress();
  mEditNetworkAddress.OnChange.Add(this, &OrbelDeviceOpticalLayout::OnAddressChange);

  mLabelNetworkPort.Caption = "Port:";
  mEditNetworkPort.Text = mDevice->HostPort();
  mEditNetworkPort.OnChange.Add(this, &OrbelDeviceOpticalLayout::OnPortChange);

  mLabelAxisMapping.Caption = "Coordinate Frame:";
  // The reference numbers are the axis mapping values the device takes.
  mListAxisMapping.Items.Add("Y-Up", 0);
  mListAxisMapping.Items.Add("Z-Up", 1);
  mListAxisMapping.ItemIndex = mAxisMapping;
  mListAxisMapping.OnChange.Add(this, &OrbelDeviceOpticalLayout::OnAxisMappingChange);

  mButtonEnableBones.Style = kFBCheckbox;
  mButtonEnableBones.State = mDevice->StreamBones() ? 1 : 0;
  mButtonEnableBones.OnClick.Add(this, &OrbelDeviceOpticalLayout::OnStreamBonesClick);
  mButtonEnableBones.Caption = "Stream Bones";

  mButtonEnableMarkers.Style = kFBCheckbox;
  mButtonEnableMarkers.State = mDevice->StreamMarkers() ? 1 : 0;
  mButtonEnableMarkers.OnClick.Add(this, &OrbelDeviceOpticalLayout::OnStreamMarkersClick);
  mButtonEnableMarkers.Caption = "Stream Labeled Markers";

  mButtonEnableUnlabeledMarkers.Style = kFBCheckbox;
  mButtonEnableUnlabeledMarkers.State = mDevice->StreamUnlabeledMarkers() ? 1 : 0;
  mButtonEnableUnlabeledMarkers.OnClick.Add(
      this, &OrbelDeviceOpticalLayout::OnStreamUnlabeledMarkersClick);
  mButtonEnableUnlabeledMarkers.Caption = "Stream Unlabeled Markers";

  mLabelUnlabeledMarkerCount.Caption = "Marker Count:";
  mEditUnlabeledMarkerCount.Text = mDevice->UnlabeledMarkerCountText();
  mEditUnlabeledMarkerCount.OnChange.Add(this, &OrbelDeviceOpticalLayout::OnMarkerCountChange);

  mButtonEnableStripCharName.Style = kFBCheckbox;
  mButtonEnableStripCharName.State = mDevice->StripCharacterName() ? 1 : 0;
  mButtonEnableStripCharName.OnClick.Add(this,
                                         &OrbelDeviceOpticalLayout::OnStripCharacterNameClick);
  mButtonEnableStripCharName.Caption = "Remove Character Name from Object Name";

  mButtonEnableTimecode.Style = kFBCheckbox;
  mButtonEnableTimecode.State = mDevice->UseTimecode() ? 1 : 0;
  mButtonEnableTimecode.OnClick.Add(this, &OrbelDeviceOpticalLayout::OnUseTimecodeClick);
  mButtonEnableTimecode.Caption = "Use Timecode";

  // A push button: its caption, not a tick, shows whether the stream is paused.
  mButtonPause.OnClick.Add(this, &OrbelDeviceOpticalLayout::OnPauseClick);
  mButtonPause.Caption = mPaused ? kResumeCaption : kPauseCaption;

  mButtonReset.OnClick.Add(this, &OrbelDeviceOpticalLayout::OnRemoveUnusedClick);
  mButtonReset.Caption = "Remove Unused Characters";

  char version[48];
  std::snprintf(version, sizeof version, "Version: %d.%d.%d", kOrbelVersionMajor,
                kOrbelVersionMinor, kOrbelVersionBuild);
  mLabelVersionInfo.Caption = version;
}
