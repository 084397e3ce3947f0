// What the panel does when the user acts on it and while it stands open: one
// handler per control, the refresh of the stream check boxes and the list,
// the idle refresh of the enabled flags, and the end of a pause when the
// device stops being live.
#include <cctype>
#include <climits>
#include <string>

#include "OrbelDeviceOpticalLayout.h"

namespace {

// The C runtime's atoi rule (leading white space, an optional sign, then
// decimal digits up to the first other character; no digits reads as 0),
// except that a number beyond the int range reads as the nearest end rather
// than being undefined. `whole` tells whether the text was nothing but that
// number, blanks around it allowed.
int ParseCount(const char* text, bool* whole) {
  *whole = false;
  if (text == nullptr) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (std::isspace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long value = 0;
  bool digits = false;
  for (; std::isdigit(*p); ++p) {
    digits = true;
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*p - '0');
  }
  while (std::isspace(*p)) ++p;
  *whole = digits && *p == '\0';
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// A port the stream client can use: a decimal number from 1 to 65535.
bool IsUsablePort(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > 65535) return false;
  }
  return value >= 1;
}

}  // namespace

void OrbelDeviceOpticalLayout::FBDestroy() {
  mSystem.OnUIIdle.Remove(this, &OrbelDeviceOpticalLayout::IdleRefresh);
  // A layout that refused creation never reached its device.
  if (mDevice != nullptr) {
    mDevice->OnStateChange.Remove(this, &OrbelDeviceOpticalLayout::DeviceStateChanged);
  }
}

void OrbelDeviceOpticalLayout::RefreshControls() {
  mButtonEnableBones.State = mStreamBones ? 1 : 0;
  mButtonEnableMarkers.State = mStreamMarkers ? 1 : 0;
  mButtonEnableUnlabeledMarkers.State = mStreamUnlabeledMarkers ? 1 : 0;
  mListAxisMapping.Selected(mAxisMapping, true);
  // The list is the one place that holds the user's axis choice, so every
  // refresh applies it to the device (and its settings file) again.
  const int index = mListAxisMapping.ItemIndex;
  mDevice->SetAxisMapping(static_cast<int>(mListAxisMapping.Items.GetReferenceAt(index)));
}

// ---- control handlers ----

void OrbelDeviceOpticalLayout::OnTabChange(HISender /*sender*/, HKEvent /*event*/) {
  if (mTabPanel.ItemIndex == 0) SetControl("MainLayout", mMainLayout);
}

void OrbelDeviceOpticalLayout::OnAddressChange(HISender /*sender*/, HKEvent /*event*/) {
  const FBString address = mEditNetworkAddress.Text;
  mDevice->SetHostAddress(address);
  // Shows what the device keeps, which is nothing for a device without a
  // reader.
  mEditNetworkAddress.Text = mDevice->HostAddress();
}

void OrbelDeviceOpticalLayout::OnPortChange(HISender /*sender*/, HKEvent /*event*/) {
  const FBString port = mEditNetworkPort.Text;
  // The port is kept as typed (the stream client rejects it at the next
  // start); the user learns why now, not only as a failed connection.
  SetComplaint(mPortComplaint, IsUsablePort(port)
                                   ? FBString()
                                   : "Port '" + port + "' is not a number from 1 to 65535");
  mDevice->SetHostPort(port);
  mEditNetworkPort.Text = mDevice->HostPort();
}

void OrbelDeviceOpticalLayout::OnAxisMappingChange(HISender /*sender*/, HKEvent /*event*/) {
  mAxisMapping = mListAxisMapping.ItemIndex;
  mDevice->SetAxisMapping(
      static_cast<int>(mListAxisMapping.Items.GetReferenceAt(mListAxisMapping.ItemIndex)));
  RefreshControls();
}

void OrbelDeviceOpticalLayout::OnStreamBonesClick(HISender /*sender*/, HKEvent /*event*/) {
  mStreamBones = mButtonEnableBones.State != 0;
  mDevice->SetStreamBones(mStreamBones);
  RefreshControls();
}

void OrbelDeviceOpticalLayout::OnStreamMarkersClick(HISender /*sender*/, HKEvent /*event*/) {
  mStreamMarkers = mButtonEnableMarkers.State != 0;
  mDevice->SetStreamMarkers(mStreamMarkers);
  RefreshControls();
}

void OrbelDeviceOpticalLayout::OnStreamUnlabeledMarkersClick(HISender /*sender*/,
                                                             HKEvent /*event*/) {
  mStreamUnlabeledMarkers = mButtonEnableUnlabeledMarkers.State != 0;
  mDevice->SetStreamUnlabeledMarkers(mStreamUnlabeledMarkers);
  RefreshControls();
}

void OrbelDeviceOpticalLayout::OnMarkerCountChange(HISender /*sender*/, HKEvent /*event*/) {
  const FBString text = mEditUnlabeledMarkerCount.Text;
  bool whole = false;
  const int count = ParseCount(text, &whole);
  // The count read by the atoi rule is used either way, as the settings
  // file reads it, within the device's bounds; the edit then shows what the
  // device took, and the information says why it differs from the text.
  mDevice->SetUnlabeledMarkerCount(count);
  const FBString used = mDevice->UnlabeledMarkerCountText();
  FBString complaint;
  if (!whole) {
    complaint = "Marker count '" + text + "' is not a number: " + used + " is used";
  } else if (used != FBString(std::to_string(count).c_str())) {
    complaint = "Marker count '" + text + "' is out of range: " + used + " is used";
  }
  SetComplaint(mCountComplaint, complaint);
  mEditUnlabeledMarkerCount.Text = used;
  RefreshControls();
}

void OrbelDeviceOpticalLayout::SetComplaint(FBString& slot, const FBString& complaint) {
  const FBString shown = mDevice->Information;
  if (!complaint.IsEmpty()) {
    const bool coveringOwn = (!mPortComplaint.IsEmpty() && shown == mPortComplaint) ||
                             (!mCountComplaint.IsEmpty() && shown == mCountComplaint);
    if (!coveringOwn) mInformationBeforeComplaints = shown;
    slot = complaint;
    mDevice->Information = complaint;
    return;
  }
  const bool showingThis = !slot.IsEmpty() && shown == slot;
  slot = FBString();
  // Something newer ("Started", a failed connection) stays.
  if (!showingThis) return;
  const FBString& other = &slot == &mPortComplaint ? mCountComplaint : mPortComplaint;
  mDevice->Information = other.IsEmpty() ? mInformationBeforeComplaints : other;
}

void OrbelDeviceOpticalLayout::OnUseTimecodeClick(HISender /*sender*/, HKEvent /*event*/) {
  mDevice->SetUseTimecode(mButtonEnableTimecode.State != 0);
  RefreshControls();
}

void OrbelDeviceOpticalLayout::OnStripCharacterNameClick(HISender /*sender*/, HKEvent /*event*/) {
  mDevice->SetStripCharacterName(mButtonEnableStripCharName.State != 0);
  RefreshControls();
}

void OrbelDeviceOpticalLayout::OnPauseClick(HISender /*sender*/, HKEvent /*event*/) {
  if (mPaused) {
    mPaused = false;
    mButtonPause.Caption = kPauseCaption;
  } else {
    mPaused = true;
    mButtonPause.Caption = kResumeCaption;
  }
  mDevice->SetPaused(mPaused);
}

void OrbelDeviceOpticalLayout::OnRemoveUnusedClick(HISender /*sender*/, HKEvent /*event*/) {
  mDevice->RemoveUnusedCharacters();
}

// ---- following the device ----

void OrbelDeviceOpticalLayout::IdleRefresh(HISender /*sender*/, HKEvent /*event*/) {
  // These options shape the connection and the scene models, which are made
  // when the device starts; they wait until it is offline.
  const bool offline = !mDevice->Online;
  mButtonEnableUnlabeledMarkers.Enabled = offline;
  mLabelUnlabeledMarkerCount.Enabled = offline;
  mEditUnlabeledMarkerCount.Enabled = offline;
  mButtonEnableStripCharName.Enabled = offline;
  mButtonEnableTimecode.Enabled = offline;

  const bool live = mDevice->Live;
  mButtonPause.Enabled = live;
  mButtonReset.Enabled = live;

  // Object names were made with the option in force at the start; changing
  // it before the next initialise would no longer match them.
  if (mDevice->Started()) mButtonEnableStripCharName.Enabled = false;
}

void OrbelDeviceOpticalLayout::DeviceStateChanged(HISender /*sender*/, HKEvent /*event*/) {
  if (mDevice->Live) return;
  if (!mPaused) return;
  // A pause shown on a device that is no longer live would stay on through
  // the next start; the device's stream starts unpaused again.
  mPaused = false;
  mButtonPause.Caption = kPauseCaption;
  mDevice->SetPaused(false);
}
