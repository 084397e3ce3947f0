// The device's options: each setter carries one option to the reader, the
// device and the settings file in one call; LoadSettings applies the file.
//
// The settings file ("@OrbelOpticalDevice.txt", section "DataStream") is
// shared by every device of the host: whichever writes last wins, and a
// device picks up the others' values at its next start or initialise.
#include <cstdio>
#include <string>

#include "OrbelSimpleDeviceOptical.h"
#include "orbel_settings_text.h"

using orbel::settings::FormatBoolean;
using orbel::settings::FormatInteger;
using orbel::settings::ParseBoolean;
using orbel::settings::ParseInteger;

void OrbelSimpleDeviceOptical::WriteSetting(const char* key, const char* value) {
  // A setting that cannot be written stays applied in memory; the host
  // reports the file's problem on its message channel.
  if (mSettingsFile) mSettingsFile->Set(kSettingsSection, key, value, nullptr);
}

void OrbelSimpleDeviceOptical::SetHostAddress(const char* address) {
  if (!mReader) return;
  mReader->SetServerHost(address);
  WriteSetting("HostAddress", address);
}

void OrbelSimpleDeviceOptical::SetHostPort(const char* port) {
  if (!mReader) return;
  mReader->SetServerPort(port);
  WriteSetting("HostPort", port);
}

void OrbelSimpleDeviceOptical::SetAxisMapping(int axisMapping) {
  if (!mReader) return;
  mReader->SetAxisMapping(axisMapping);
  mAxisMapping = axisMapping;
  WriteSetting("AxisMapping", FormatInteger(axisMapping).c_str());
}

void OrbelSimpleDeviceOptical::SetUnlabeledMarkerCount(int count) {
  if (!mReader) return;
  // Bounded as the reader bounds it when it makes the records, so that the
  // reader, the panel and the file agree on the count in use; a negative
  // count would otherwise ask for billions of records.
  if (count < 0) count = 0;
  if (count > OrbelDataReader::kMaxUnlabeledMarkerCount) {
    count = OrbelDataReader::kMaxUnlabeledMarkerCount;
  }
  mReader->unlabeledMarkerCount = count;
  WriteSetting("UnlabeledMarkerCount", FormatInteger(count).c_str());
}

void OrbelSimpleDeviceOptical::SetUseTimecode(bool use) {
  if (!mReader) return;
  mReader->SetUseTimecode(use);
  WriteSetting("UseTimecode", FormatBoolean(use));
  mUseTimecode = use;
}

void OrbelSimpleDeviceOptical::SetStripCharacterName(bool strip) {
  WriteSetting("StripCharacterNameFromObjectName", FormatBoolean(strip));
  mStripCharacterName = strip;
}

void OrbelSimpleDeviceOptical::SetStreamBones(bool stream) {
  if (!mReader) return;
  mReader->SetSegmentData(stream);
  WriteSetting("StreamBones", FormatBoolean(stream));
  mStreamBones = stream;
  // Bound models would otherwise freeze at the last pose they received.
  if (!stream) WriteSegmentNodes(nullptr, true);
  ShowSegmentModels(stream);
}

void OrbelSimpleDeviceOptical::SetStreamMarkers(bool stream) {
  if (!mReader) return;
  mReader->SetMarkerData(stream);
  WriteSetting("StreamMarkers", FormatBoolean(stream));
  mStreamMarkers = stream;
  if (!stream) WriteMarkerNodes(nullptr, true);
  ShowMarkerModels(stream);
}

void OrbelSimpleDeviceOptical::SetStreamUnlabeledMarkers(bool stream) {
  if (!mReader) return;
  mReader->SetUnlabeledMarkerData(stream);
  WriteSetting("StreamUnlabeledMarkers", FormatBoolean(stream));
  mStreamUnlabeledMarkers = stream;
  if (!stream) WriteUnlabeledMarkerNodes(nullptr, true);
  ShowUnlabeledMarkerModels(stream);
}

void OrbelSimpleDeviceOptical::SetPaused(bool paused) {
  if (!mReader) return;
  mPaused = paused;
  mReader->SetPaused(paused);
}

FBString OrbelSimpleDeviceOptical::HostAddress() const {
  return mReader ? mReader->ServerHost() : FBString();
}

FBString OrbelSimpleDeviceOptical::HostPort() const {
  return mReader ? mReader->ServerPort() : FBString();
}

const char* OrbelSimpleDeviceOptical::UnlabeledMarkerCountText() {
  if (!mReader) return "";
  std::snprintf(mUnlabeledMarkerCountText, sizeof mUnlabeledMarkerCountText, "%d",
                mReader->unlabeledMarkerCount);
  return mUnlabeledMarkerCountText;
}

void OrbelSimpleDeviceOptical::LoadSettings(bool withAddress) {
  // Every key is read with its default and applied through its setter, so
  // the file holds every key in its normal form afterwards. A text is
  // copied before the next Get: the answer lives in the settings object.
  const auto read = [this](const char* key, const char* defaultValue) {
    const char* text =
        mSettingsFile ? mSettingsFile->Get(kSettingsSection, key, defaultValue) : defaultValue;
    return std::string(text != nullptr ? text : defaultValue);
  };
  if (withAddress) {
    SetHostAddress(read("HostAddress", "localhost").c_str());
    SetHostPort(read("HostPort", "801").c_str());
  }
  SetAxisMapping(ParseInteger(read("AxisMapping", "0").c_str()));
  SetStreamMarkers(ParseBoolean(read("StreamMarkers", "0").c_str()));
  SetStreamUnlabeledMarkers(ParseBoolean(read("StreamUnlabeledMarkers", "0").c_str()));
  SetUnlabeledMarkerCount(ParseInteger(read("UnlabeledMarkerCount", "100").c_str()));
  SetStreamBones(ParseBoolean(read("StreamBones", "0").c_str()));
  SetUseTimecode(ParseBoolean(read("UseTimecode", "0").c_str()));
  SetStripCharacterName(ParseBoolean(read("StripCharacterNameFromObjectName", "0").c_str()));
}
