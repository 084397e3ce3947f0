// OrbelDeviceOpticalLayout: the settings panel the host shows for one
// OrbelSimpleDeviceOptical. It offers the server address and port, the
// coordinate frame, the streamed data kinds and the unlabelled-marker count,
// the timecode and strip-name options, pausing the live stream and removing
// the characters the server no longer streams.
//
// Every change the user makes goes through the device's option setters, so
// it reaches the reader and the settings file in the same step. The panel
// keeps its own copy of the axis mapping, the three stream options and the
// paused flag; they follow the user's actions, not options changed elsewhere
// (a settings load at start, a scene retrieve), which show when the panel is
// opened again.
//
// Who calls what (the host's threads, see fbsdk/fbdevice.h):
//   UI thread: the constructor, FBCreate, FBDestroy, every control handler,
//              IdleRefresh (the host's interface idle event) and
//              DeviceStateChanged (raised where the device's Online or Live
//              flag changes, which for this device is the UI thread).
// The panel takes no lock. It holds a plain reference to its device and
// never outlives it: the host closes a device's panels before removing it.
#pragma once

#include <fbsdk/fbcontrols.h>
#include <fbsdk/fbevent.h>
#include <fbsdk/fblayout.h>
#include <fbsdk/fbsystem.h>

#include "OrbelSimpleDeviceOptical.h"

class OrbelDeviceOpticalLayout : public FBDeviceLayout {
 public:
  // Texts the panel shows; tests compare against them.
  static constexpr const char* kClassName = "OrbelDeviceOpticalLayout";
  static constexpr const char* kPauseCaption = "Pause Live Streaming";
  static constexpr const char* kResumeCaption = "Resume Live Streaming";

  // Builds the device-layout base for `device` and the controls; nothing is
  // placed or wired until FBCreate.
  explicit OrbelDeviceOpticalLayout(FBDevice* device);
  ~OrbelDeviceOpticalLayout() override;

  // ---- type queries (the type number is taken when the plug-in loads) ----
  const char* ClassName() override;
  bool Is(int typeId) override;
  int GetTypeId() override;

  // ---- creation and destruction ----
  void FBDelete() override;
  // Copies the device's options, builds the regions, configures the
  // controls, refreshes them and starts listening to the host's idle event
  // and the device's state changes. False, before any region exists, when
  // the base refuses creation or the layout was made for anything but an
  // OrbelSimpleDeviceOptical.
  bool FBCreate() override;
  // Stops listening to the idle event and the device; nothing else.
  void FBDestroy() override;

  // ---- construction steps ----
  void BuildRegions();
  void ConfigureControls();
  // Puts the copies back into the three stream check boxes and the list,
  // and hands the list's choice to the device again (which also writes it
  // to the settings file).
  void RefreshControls();

  // ---- handlers (owner: this panel) ----
  void OnTabChange(HISender sender, HKEvent event);
  void OnAddressChange(HISender sender, HKEvent event);
  void OnPortChange(HISender sender, HKEvent event);
  void OnAxisMappingChange(HISender sender, HKEvent event);
  void OnStreamBonesClick(HISender sender, HKEvent event);
  void OnStreamMarkersClick(HISender sender, HKEvent event);
  void OnStreamUnlabeledMarkersClick(HISender sender, HKEvent event);
  void OnMarkerCountChange(HISender sender, HKEvent event);
  void OnUseTimecodeClick(HISender sender, HKEvent event);
  void OnStripCharacterNameClick(HISender sender, HKEvent event);
  void OnPauseClick(HISender sender, HKEvent event);
  void OnRemoveUnusedClick(HISender sender, HKEvent event);
  // Enables and disables the controls from the device's online, live and
  // started flags.
  void IdleRefresh(HISender sender, HKEvent event);
  // Ends a pause the panel shows once the device is no longer live.
  void DeviceStateChanged(HISender sender, HKEvent event);

  // Shows `complaint` about one entry (the port or the marker count) as the
  // device's information; an empty one takes back what was said about that
  // entry, if the device still shows it.
  void SetComplaint(FBString& slot, const FBString& complaint);

 private:
  // ---- members, in their declared order; each control sits in the region
  //      of the same name ----
  FBTabPanel mTabPanel;
  FBLabel mLabelNetworkAddress;
  FBEdit mEditNetworkAddress;
  FBLabel mLabelNetworkPort;
  FBEdit mEditNetworkPort;
  FBLayout mMainLayout;
  FBLabel mLabelAxisMapping;
  FBList mListAxisMapping;
  int mAxisMapping = 0;
  FBButton mButtonEnableBones;
  bool mStreamBones = false;
  FBButton mButtonEnableMarkers;
  bool mStreamMarkers = false;
  FBButton mButtonEnableUnlabeledMarkers;
  bool mStreamUnlabeledMarkers = false;
  FBLabel mLabelUnlabeledMarkerCount;
  FBEdit mEditUnlabeledMarkerCount;
  FBButton mButtonEnableTimecode;
  FBButton mButtonEnableStripCharName;
  FBButton mButtonPause;
  bool mPaused = false;
  FBButton mButtonReset;
  FBLabel mLabelVersionInfo;
  FBSystem mSystem;
  OrbelSimpleDeviceOptical* mDevice = nullptr;
  // What the panel said about the port and the marker count typed, and the
  // information text it covered, put back once the entries are mended.
  FBString mPortComplaint;
  FBString mCountComplaint;
  FBString mInformationBeforeComplaints;
};
