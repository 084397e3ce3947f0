#include "take_safety.h"

#include <OrbelDataStreamSDK/Diagnostics.h>

#include <algorithm>

#include <fbhost/config.h>
#include <fbhost/scene.h>
#include <fbsdk/fbmodeltemplate.h>

#include "command_words.h"

namespace orbel::hostapp {

KeyCounts CountKeys(const FBTake& take) {
  KeyCounts counts;
  for (const FBTakeCurve& curve : take.GetCurves()) {
    counts[{curve.nodeSerial, curve.layer}] = curve.keyCount;
  }
  return counts;
}

int SamplesKeyedSince(const FBTake& take, const KeyCounts& before) {
  int most = 0;
  for (const FBTakeCurve& curve : take.GetCurves()) {
    const auto was = before.find({curve.nodeSerial, curve.layer});
    most = std::max(most, curve.keyCount - (was == before.end() ? 0 : was->second));
  }
  return most;
}

namespace {

// The project device's stream switches, as its settings file holds them.
bool StreamsNothing(const std::string& settingsFile) {
  std::vector<fbhost::ConfigSetting> settings;
  std::string error;
  if (!fbhost::ReadConfigSettings(settingsFile, &settings, &error)) return false;
  bool bones = true, markers = true, found = false;
  for (const auto& setting : settings) {
    if (setting.key == "StreamBones") {
      bones = setting.value != "0";
      found = true;
    } else if (setting.key == "StreamMarkers") {
      markers = setting.value != "0";
    }
  }
  return found && !bones && !markers;
}

}  // namespace

std::vector<std::string> WhyNothingKeyed(const std::vector<FBDevice*>& armed,
                                         const std::string& settingsFile) {
  std::vector<std::string> reasons;
  const bool streamsNothing = StreamsNothing(settingsFile);
  for (FBDevice* device : armed) {
    const std::string name = Quote(device->GetLabelName().str());
    FBModelTemplate* root = device->ModelTemplate[0];
    if (root == nullptr || root->Model.Get() == nullptr) {
      reasons.push_back("device " + name + " is not bound (bind it, then record)");
    } else if (!device->Live.Get()) {
      reasons.push_back("device " + name + " is not live");
    } else if (streamsNothing) {
      reasons.push_back("device " + name +
                        " streams neither bones nor labelled markers (turn them on with 'panel " +
                        device->GetLabelName().str() + " bones on' or '... markers on')");
    }
  }
  return reasons;
}

std::string TakesWithKeys() {
  std::string text;
  for (FBTake* take : fbhost::Takes()) {
    int samples = 0;
    for (const FBTakeCurve& curve : take->GetCurves()) samples = std::max(samples, curve.keyCount);
    if (samples == 0) continue;
    text += (text.empty() ? "" : ", ") + Quote(take->GetLabelName().str()) + " (" +
            std::to_string(samples) + " samples)";
  }
  return text;
}

std::vector<std::string> SubjectsAfterEmptyName() {
  namespace diagnostics = OrbelDataStreamSDK::Diagnostics;
  const unsigned int count = diagnostics::NewestSubjectNames(nullptr, 0);
  std::vector<OrbelDataStreamSDK::CPP::String> names(count);
  const unsigned int filled = diagnostics::NewestSubjectNames(names.data(), count);
  std::vector<std::string> after;
  bool empty = false;
  for (unsigned int i = 0; i < std::min(count, filled); ++i) {
    const std::string name = names[i];
    if (name.empty()) {
      empty = true;
    } else if (empty) {
      after.push_back(name);
    }
  }
  return after;
}

}  // namespace orbel::hostapp
