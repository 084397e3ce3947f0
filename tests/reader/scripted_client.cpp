#include "scripted_client.h"

#include <atomic>
#include <cassert>
#include <sstream>

namespace orbel::testing {
namespace {

std::atomic<Script*> gScript{nullptr};
std::mutex gLock;

Script& Current() {
  Script* script = gScript.load();
  assert(script != nullptr && "a scripted client was called with no script installed");
  return *script;
}

void Record(Script& s, const char* name, const std::string& argument = std::string()) {
  if (s.record) s.calls.push_back(ScriptedCall{name, argument, s.nowMs()});
}

const ScriptedSubject* FindSubject(const Script& s, const std::string& name) {
  for (const ScriptedSubject& subject : s.subjects) {
    if (subject.name == name) return &subject;
  }
  return nullptr;
}

const ScriptedSegment* FindSegment(const Script& s, const std::string& subject,
                                   const std::string& segment) {
  const ScriptedSubject* owner = FindSubject(s, subject);
  if (owner == nullptr) return nullptr;
  for (const ScriptedSegment& candidate : owner->segments) {
    if (candidate.name == segment) return &candidate;
  }
  return nullptr;
}

const ScriptedMarker* FindMarker(const Script& s, const std::string& subject,
                                 const std::string& marker) {
  const ScriptedSubject* owner = FindSubject(s, subject);
  if (owner == nullptr) return nullptr;
  for (const ScriptedMarker& candidate : owner->markers) {
    if (candidate.name == marker) return &candidate;
  }
  return nullptr;
}

template <typename Out>
Out Answer(sdk::Result::Enum result) {
  Out out;
  out.Result = result;
  return out;
}

sdk::Result::Enum KindChange(Script& s, const char* name, bool& flag, bool enable) {
  Record(s, name);
  if (!s.connected) return sdk::Result::NotConnected;
  if (s.acknowledgeKinds) flag = enable;
  return sdk::Result::Success;
}

}  // namespace

int Script::Count(const std::string& name) const {
  int n = 0;
  for (const ScriptedCall& call : calls) n += call.name == name ? 1 : 0;
  return n;
}

std::vector<ScriptedCall> Script::CallsNamed(const std::string& name) const {
  std::vector<ScriptedCall> out;
  for (const ScriptedCall& call : calls) {
    if (call.name == name) out.push_back(call);
  }
  return out;
}

std::vector<std::string> Script::Sequence(const std::vector<std::string>& skip) const {
  std::vector<std::string> out;
  for (const ScriptedCall& call : calls) {
    bool skipped = false;
    for (const std::string& name : skip) skipped = skipped || call.name == name;
    if (!skipped) out.push_back(call.name);
  }
  return out;
}

std::mutex& Script::Lock() { return gLock; }

void InstallScript(Script* script) {
  std::lock_guard<std::mutex> lock(gLock);
  gScript.store(script);
}

}  // namespace orbel::testing

namespace OrbelDataStreamSDK::CPP {

using orbel::testing::Current;
using orbel::testing::Record;
using orbel::testing::Script;

String::String() = default;
String::String(const char* text) : text_(text ? text : "") {}
String::String(const std::string& text) : text_(text) {}
// The scripted client keeps no name tables, so hints are never set.
String::String(const String& other) : text_(other.text_) {}
String& String::operator=(const String& other) {
  text_ = other.text_;
  return *this;
}
String::~String() = default;
String::operator std::string() const { return text_; }
bool String::operator==(const String& other) const { return text_ == other.text_; }

struct Client::Impl {};

Client::Client() : impl_(std::make_unique<Impl>()) {}
Client::~Client() = default;

#define SCRIPTED_LOCK                                              \
  std::lock_guard<std::mutex> scriptedLock(orbel::testing::gLock); \
  Script& s = Current()

Output_Connect Client::Connect(const String& HostName) {
  SCRIPTED_LOCK;
  Record(s, "Connect", std::string(HostName));
  if (!s.reachable) return orbel::testing::Answer<Output_Connect>(Result::ConnectionFailed);
  if (s.connectFailuresFirst > 0) {
    --s.connectFailuresFirst;
    return orbel::testing::Answer<Output_Connect>(Result::ConnectionFailed);
  }
  s.connected = true;
  return orbel::testing::Answer<Output_Connect>(Result::Success);
}

Output_IsConnected Client::IsConnected() const {
  SCRIPTED_LOCK;
  Record(s, "IsConnected");
  Output_IsConnected out;
  out.Connected = s.connected;
  return out;
}

Output_Disconnect Client::Disconnect() {
  SCRIPTED_LOCK;
  Record(s, "Disconnect");
  s.connected = false;
  return orbel::testing::Answer<Output_Disconnect>(s.disconnectResult);
}

Output_EnableSegmentData Client::EnableSegmentData() {
  SCRIPTED_LOCK;
  return orbel::testing::Answer<Output_EnableSegmentData>(
      orbel::testing::KindChange(s, "EnableSegmentData", s.segmentsEnabled, true));
}
Output_EnableMarkerData Client::EnableMarkerData() {
  SCRIPTED_LOCK;
  return orbel::testing::Answer<Output_EnableMarkerData>(
      orbel::testing::KindChange(s, "EnableMarkerData", s.markersEnabled, true));
}
Output_EnableUnlabeledMarkerData Client::EnableUnlabeledMarkerData() {
  SCRIPTED_LOCK;
  return orbel::testing::Answer<Output_EnableUnlabeledMarkerData>(
      orbel::testing::KindChange(s, "EnableUnlabeledMarkerData", s.unlabeledEnabled, true));
}
Output_EnableDeviceData Client::EnableDeviceData() {
  SCRIPTED_LOCK;
  return orbel::testing::Answer<Output_EnableDeviceData>(
      orbel::testing::KindChange(s, "EnableDeviceData", s.deviceEnabled, true));
}
Output_DisableSegmentData Client::DisableSegmentData() {
  SCRIPTED_LOCK;
  return orbel::testing::Answer<Output_DisableSegmentData>(
      orbel::testing::KindChange(s, "DisableSegmentData", s.segmentsEnabled, false));
}
Output_DisableMarkerData Client::DisableMarkerData() {
  SCRIPTED_LOCK;
  return orbel::testing::Answer<Output_DisableMarkerData>(
      orbel::testing::KindChange(s, "DisableMarkerData", s.markersEnabled, false));
}
Output_DisableUnlabeledMarkerData Client::DisableUnlabeledMarkerData() {
  SCRIPTED_LOCK;
  return orbel::testing::Answer<Output_DisableUnlabeledMarkerData>(
      orbel::testing::KindChange(s, "DisableUnlabeledMarkerData", s.unlabeledEnabled, false));
}

Output_IsSegmentDataEnabled Client::IsSegmentDataEnabled() const {
  SCRIPTED_LOCK;
  Output_IsSegmentDataEnabled out;
  out.Enabled = s.segmentsEnabled;
  return out;
}
Output_IsMarkerDataEnabled Client::IsMarkerDataEnabled() const {
  SCRIPTED_LOCK;
  Output_IsMarkerDataEnabled out;
  out.Enabled = s.markersEnabled;
  return out;
}
Output_IsUnlabeledMarkerDataEnabled Client::IsUnlabeledMarkerDataEnabled() const {
  SCRIPTED_LOCK;
  Output_IsUnlabeledMarkerDataEnabled out;
  out.Enabled = s.unlabeledEnabled;
  return out;
}
Output_IsDeviceDataEnabled Client::IsDeviceDataEnabled() const {
  SCRIPTED_LOCK;
  Output_IsDeviceDataEnabled out;
  out.Enabled = s.deviceEnabled;
  return out;
}

Output_SetStreamMode Client::SetStreamMode(StreamMode::Enum Mode) {
  SCRIPTED_LOCK;
  Record(s, "SetStreamMode", std::to_string(static_cast<int>(Mode)));
  s.streamMode = static_cast<int>(Mode);
  return orbel::testing::Answer<Output_SetStreamMode>(Result::Success);
}

Output_SetAxisMapping Client::SetAxisMapping(Direction::Enum XAxis, Direction::Enum YAxis,
                                             Direction::Enum ZAxis) {
  SCRIPTED_LOCK;
  std::ostringstream argument;
  argument << XAxis << ',' << YAxis << ',' << ZAxis;
  Record(s, "SetAxisMapping", argument.str());
  s.axes = {XAxis, YAxis, ZAxis};
  return orbel::testing::Answer<Output_SetAxisMapping>(Result::Success);
}

Output_GetAxisMapping Client::GetAxisMapping() const {
  SCRIPTED_LOCK;
  Output_GetAxisMapping out;
  out.XAxis = static_cast<Direction::Enum>(s.axes[0]);
  out.YAxis = static_cast<Direction::Enum>(s.axes[1]);
  out.ZAxis = static_cast<Direction::Enum>(s.axes[2]);
  return out;
}

Output_GetFrame Client::GetFrame() {
  SCRIPTED_LOCK;
  Record(s, "GetFrame");
  const Result::Enum result = s.connected ? s.frameResult : Result::NotConnected;
  if (result == Result::Success) ++s.frameNumber;
  return orbel::testing::Answer<Output_GetFrame>(result);
}

Output_GetFrameNumber Client::GetFrameNumber() const {
  SCRIPTED_LOCK;
  if (s.frameNumber == 0) return orbel::testing::Answer<Output_GetFrameNumber>(Result::NoFrame);
  Output_GetFrameNumber out;
  out.Result = Result::Success;
  out.FrameNumber = s.frameNumber;
  return out;
}

Output_GetFrameTiming Client::GetFrameTiming() const {
  return orbel::testing::Answer<Output_GetFrameTiming>(Result::NotImplemented);
}

Output_GetTimecode Client::GetTimecode() const {
  SCRIPTED_LOCK;
  Record(s, "GetTimecode");
  return s.timecode;
}

Output_GetSubjectCount Client::GetSubjectCount() const {
  SCRIPTED_LOCK;
  Output_GetSubjectCount out;
  out.Result = Result::Success;
  out.SubjectCount = static_cast<unsigned int>(s.subjects.size());
  return out;
}

Output_GetSubjectName Client::GetSubjectName(unsigned int SubjectIndex) const {
  SCRIPTED_LOCK;
  Output_GetSubjectName out;
  if (SubjectIndex >= s.subjects.size()) {
    out.Result = Result::InvalidIndex;
    return out;
  }
  out.Result = Result::Success;
  out.SubjectName = s.subjects[SubjectIndex].name;
  return out;
}

Output_GetSegmentCount Client::GetSegmentCount(const String& SubjectName) const {
  SCRIPTED_LOCK;
  Output_GetSegmentCount out;
  const auto* subject = orbel::testing::FindSubject(s, SubjectName);
  out.Result = subject ? Result::Success : Result::InvalidSubjectName;
  out.SegmentCount = subject ? static_cast<unsigned int>(subject->segments.size()) : 0;
  return out;
}

Output_GetSegmentName Client::GetSegmentName(const String& SubjectName,
                                             unsigned int SegmentIndex) const {
  SCRIPTED_LOCK;
  Output_GetSegmentName out;
  const auto* subject = orbel::testing::FindSubject(s, SubjectName);
  if (subject == nullptr || SegmentIndex >= subject->segments.size()) {
    out.Result = Result::InvalidIndex;
    return out;
  }
  out.Result = Result::Success;
  out.SegmentName = subject->segments[SegmentIndex].name;
  return out;
}

Output_GetSegmentParentName Client::GetSegmentParentName(const String& SubjectName,
                                                         const String& SegmentName) const {
  SCRIPTED_LOCK;
  Output_GetSegmentParentName out;
  const auto* segment = orbel::testing::FindSegment(s, SubjectName, SegmentName);
  out.Result = segment ? Result::Success : Result::InvalidSegmentName;
  if (segment) out.SegmentName = segment->parent;
  return out;
}

Output_GetSegmentLocalTranslation Client::GetSegmentLocalTranslation(
    const String& SubjectName, const String& SegmentName) const {
  SCRIPTED_LOCK;
  Record(s, "GetSegmentLocalTranslation",
         std::string(SubjectName) + "," + std::string(SegmentName));
  Output_GetSegmentLocalTranslation out;
  const auto* segment = orbel::testing::FindSegment(s, SubjectName, SegmentName);
  out.Result = segment ? Result::Success : Result::InvalidSegmentName;
  if (segment) {
    for (int i = 0; i < 3; ++i) out.Translation[i] = segment->translation[i];
  }
  return out;
}

Output_GetSegmentLocalRotationQuaternion Client::GetSegmentLocalRotationQuaternion(
    const String& SubjectName, const String& SegmentName) const {
  SCRIPTED_LOCK;
  Output_GetSegmentLocalRotationQuaternion out;
  const auto* segment = orbel::testing::FindSegment(s, SubjectName, SegmentName);
  out.Result = segment ? Result::Success : Result::InvalidSegmentName;
  if (segment) {
    for (int i = 0; i < 4; ++i) out.Rotation[i] = segment->rotation[i];
  }
  return out;
}

Output_GetMarkerCount Client::GetMarkerCount(const String& SubjectName) const {
  SCRIPTED_LOCK;
  Output_GetMarkerCount out;
  const auto* subject = orbel::testing::FindSubject(s, SubjectName);
  out.Result = subject ? Result::Success : Result::InvalidSubjectName;
  out.MarkerCount = subject ? static_cast<unsigned int>(subject->markers.size()) : 0;
  return out;
}

Output_GetMarkerName Client::GetMarkerName(const String& SubjectName,
                                           unsigned int MarkerIndex) const {
  SCRIPTED_LOCK;
  Output_GetMarkerName out;
  const auto* subject = orbel::testing::FindSubject(s, SubjectName);
  if (subject == nullptr || MarkerIndex >= subject->markers.size()) {
    out.Result = Result::InvalidIndex;
    return out;
  }
  out.Result = Result::Success;
  out.MarkerName = subject->markers[MarkerIndex].name;
  return out;
}

Output_GetMarkerGlobalTranslation Client::GetMarkerGlobalTranslation(
    const String& SubjectName, const String& MarkerName) const {
  SCRIPTED_LOCK;
  Output_GetMarkerGlobalTranslation out;
  const auto* marker = orbel::testing::FindMarker(s, SubjectName, MarkerName);
  out.Result = marker ? Result::Success : Result::InvalidMarkerName;
  if (marker) {
    for (int i = 0; i < 3; ++i) out.Translation[i] = marker->position[i];
  }
  return out;
}

Output_GetUnlabeledMarkerCount Client::GetUnlabeledMarkerCount() const {
  SCRIPTED_LOCK;
  Output_GetUnlabeledMarkerCount out;
  out.Result = Result::Success;
  out.MarkerCount = static_cast<unsigned int>(s.unlabeled.size());
  return out;
}

Output_GetUnlabeledMarkerGlobalTranslation Client::GetUnlabeledMarkerGlobalTranslation(
    unsigned int MarkerIndex) const {
  SCRIPTED_LOCK;
  Output_GetUnlabeledMarkerGlobalTranslation out;
  if (MarkerIndex >= s.unlabeled.size()) {
    out.Result = Result::InvalidIndex;
    return out;
  }
  out.Result = Result::Success;
  for (int i = 0; i < 3; ++i) out.Translation[i] = s.unlabeled[MarkerIndex][i];
  return out;
}

#undef SCRIPTED_LOCK

}  // namespace OrbelDataStreamSDK::CPP
