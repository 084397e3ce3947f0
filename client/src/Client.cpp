#include "OrbelDataStreamSDK/Client.h"

#include <climits>
#include <string_view>

#include "ClientImpl.h"
#include "ClientTesting.h"
#include "DiagnosticsRecord.h"

namespace OrbelDataStreamSDK::CPP {

namespace protocol = orbel::protocol;
using orbel::client::DescriptionIndex;

namespace {

std::string_view view(const String& s) { return std::string_view(s.c_str(), s.size()); }

// Runs f, turning any exception (allocation failure, thread creation) into
// the record's default with Result Unknown: nothing may leave the library.
template <typename Out, typename F>
Out guarded(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    Out out{};
    if constexpr (std::is_same_v<decltype(out.Result), Result::Enum>) out.Result = Result::Unknown;
    return out;
  }
}

template <typename Out>
Out withResult(Result::Enum r) {
  Out out;
  out.Result = r;
  return out;
}

}  // namespace

// ---- String --------------------------------------------------------------

String::String() = default;
String::String(const char* text) : text_(text ? text : "") {}
String::String(const std::string& text) : text_(text) {}
String::String(const String& other) = default;
String& String::operator=(const String& other) = default;
String::~String() = default;
String::operator std::string() const { return text_; }
const char* String::c_str() const { return text_.c_str(); }
std::size_t String::size() const { return text_.size(); }
bool String::empty() const { return text_.empty(); }
bool String::operator==(const String& other) const { return text_ == other.text_; }

// ---- Connection ------------------------------------------------------------

Client::Client() : impl_(std::make_unique<Impl>()) {}

Client::~Client() {
  std::lock_guard<std::mutex> lock(impl_->control);
  impl_->disconnect();
}

Output_Connect Client::Connect(const String& HostName) {
  return guarded<Output_Connect>([&] {
    std::lock_guard<std::mutex> lock(impl_->control);
    Output_Connect out;
    out.Result = impl_->connect(std::string(HostName));
    return out;
  });
}

Output_IsConnected Client::IsConnected() const {
  Output_IsConnected out;
  out.Connected = impl_->connected.load();
  return out;
}

Output_Disconnect Client::Disconnect() {
  return guarded<Output_Disconnect>([&] {
    std::lock_guard<std::mutex> lock(impl_->control);
    return withResult<Output_Disconnect>(impl_->disconnect());
  });
}

// ---- Data kinds ------------------------------------------------------------

namespace {

template <typename Out>
Out changeKinds(Client::Impl& impl, std::uint8_t bit, bool on) {
  return guarded<Out>([&] {
    std::lock_guard<std::mutex> lock(impl.control);
    std::uint8_t kinds = 0;
    {
      std::lock_guard<std::mutex> stateLock(impl.state);
      kinds = on ? (impl.wanted | bit) : (impl.wanted & ~bit);
    }
    return withResult<Out>(impl.requestKinds(kinds));
  });
}

bool ackedHas(const Client::Impl& impl, std::uint8_t bit) {
  std::lock_guard<std::mutex> lock(impl.state);
  return (impl.acked & bit) != 0;
}

}  // namespace

Output_EnableSegmentData Client::EnableSegmentData() {
  return changeKinds<Output_EnableSegmentData>(*impl_, protocol::Kind::Segments, true);
}
Output_EnableMarkerData Client::EnableMarkerData() {
  return changeKinds<Output_EnableMarkerData>(*impl_, protocol::Kind::Markers, true);
}
Output_EnableUnlabeledMarkerData Client::EnableUnlabeledMarkerData() {
  return changeKinds<Output_EnableUnlabeledMarkerData>(*impl_, protocol::Kind::Unlabeled, true);
}
Output_EnableDeviceData Client::EnableDeviceData() {
  return changeKinds<Output_EnableDeviceData>(*impl_, protocol::Kind::Device, true);
}
Output_DisableSegmentData Client::DisableSegmentData() {
  return changeKinds<Output_DisableSegmentData>(*impl_, protocol::Kind::Segments, false);
}
Output_DisableMarkerData Client::DisableMarkerData() {
  return changeKinds<Output_DisableMarkerData>(*impl_, protocol::Kind::Markers, false);
}
Output_DisableUnlabeledMarkerData Client::DisableUnlabeledMarkerData() {
  return changeKinds<Output_DisableUnlabeledMarkerData>(*impl_, protocol::Kind::Unlabeled, false);
}

Output_IsSegmentDataEnabled Client::IsSegmentDataEnabled() const {
  Output_IsSegmentDataEnabled out;
  out.Enabled = ackedHas(*impl_, protocol::Kind::Segments);
  return out;
}
Output_IsMarkerDataEnabled Client::IsMarkerDataEnabled() const {
  Output_IsMarkerDataEnabled out;
  out.Enabled = ackedHas(*impl_, protocol::Kind::Markers);
  return out;
}
Output_IsUnlabeledMarkerDataEnabled Client::IsUnlabeledMarkerDataEnabled() const {
  Output_IsUnlabeledMarkerDataEnabled out;
  out.Enabled = ackedHas(*impl_, protocol::Kind::Unlabeled);
  return out;
}
Output_IsDeviceDataEnabled Client::IsDeviceDataEnabled() const {
  Output_IsDeviceDataEnabled out;
  out.Enabled = ackedHas(*impl_, protocol::Kind::Device);
  return out;
}

Output_SetStreamMode Client::SetStreamMode(StreamMode::Enum Mode) {
  const int mode = static_cast<int>(Mode);
  if (mode != StreamMode::ClientPull && mode != StreamMode::ServerPush) {
    return withResult<Output_SetStreamMode>(Result::InvalidArgument);
  }
  return withResult<Output_SetStreamMode>(impl_->connected ? Result::Success
                                                           : Result::NotConnected);
}

Output_SetAxisMapping Client::SetAxisMapping(Direction::Enum XAxis, Direction::Enum YAxis,
                                             Direction::Enum ZAxis) {
  orbel::client::AxisMapping m;
  if (!orbel::client::AxisMapping::fromDirections(XAxis, YAxis, ZAxis, m)) {
    return withResult<Output_SetAxisMapping>(Result::InvalidArgument);
  }
  Impl::TakenGuard lock(impl_->taken);
  impl_->mapping = m;
  return withResult<Output_SetAxisMapping>(Result::Success);
}

Output_GetAxisMapping Client::GetAxisMapping() const {
  Impl::TakenGuard lock(impl_->taken);
  Output_GetAxisMapping out;
  out.XAxis = static_cast<Direction::Enum>(impl_->mapping.direction(0));
  out.YAxis = static_cast<Direction::Enum>(impl_->mapping.direction(1));
  out.ZAxis = static_cast<Direction::Enum>(impl_->mapping.direction(2));
  return out;
}

// ---- Frames ----------------------------------------------------------------

Output_GetFrame Client::GetFrame() {
  if (!impl_->connected) return withResult<Output_GetFrame>(Result::NotConnected);
  Impl::TakenGuard takenLock(impl_->taken);
  std::lock_guard<std::mutex> pendingLock(impl_->pending);
  if (!impl_->pendingFresh) return withResult<Output_GetFrame>(Result::NoFrame);
  const bool hadPrevious = impl_->haveTaken;
  const std::uint64_t previousNumber = impl_->takenFrame.frame.number;
  // Swapping hands the old frame's buffers back to the receive thread, so
  // taking frames allocates nothing.
  std::swap(impl_->takenFrame.frame, impl_->pendingFrame.frame);
  impl_->takenFrame.description.swap(impl_->pendingFrame.description);
  std::swap(impl_->takenFrame.receiveTimeNs, impl_->pendingFrame.receiveTimeNs);
  impl_->pendingFresh = false;
  impl_->haveTaken = true;
  orbel::client::RecordFrameTaken(impl_->takenFrame.frame.number,
                                  impl_->takenFrame.frame.serverSendTimeNs,
                                  impl_->takenFrame.receiveTimeNs, hadPrevious, previousNumber);
  return withResult<Output_GetFrame>(Result::Success);
}

Output_GetFrameNumber Client::GetFrameNumber() const {
  Impl::TakenGuard lock(impl_->taken);
  Output_GetFrameNumber out;
  if (!impl_->haveTaken) return withResult<Output_GetFrameNumber>(Result::NoFrame);
  out.Result = Result::Success;
  out.FrameNumber = static_cast<unsigned int>(impl_->takenFrame.frame.number);
  return out;
}

Output_GetFrameTiming Client::GetFrameTiming() const {
  Impl::TakenGuard lock(impl_->taken);
  Output_GetFrameTiming out;
  if (!impl_->haveTaken) return withResult<Output_GetFrameTiming>(Result::NoFrame);
  out.Result = Result::Success;
  out.ServerSendTimeNs = impl_->takenFrame.frame.serverSendTimeNs;
  out.ReceiveTimeNs = impl_->takenFrame.receiveTimeNs;
  return out;
}

Output_GetTimecode Client::GetTimecode() const {
  Impl::TakenGuard lock(impl_->taken);
  Output_GetTimecode out;
  if (!impl_->haveTaken) return withResult<Output_GetTimecode>(Result::NoFrame);
  const protocol::TimecodeValue& tc = impl_->takenFrame.frame.timecode;
  out.Result = Result::Success;
  out.Hours = tc.hours;
  out.Minutes = tc.minutes;
  out.Seconds = tc.seconds;
  out.Frames = tc.frames;
  // Unknown codes pass through so callers can refuse them themselves.
  out.Standard = static_cast<TimecodeStandard::Enum>(
      tc.standard > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(tc.standard));
  return out;
}

// ---- Description queries -----------------------------------------------------

namespace {

// Resolves a subject of the frame taken; on failure answers the result code.
struct Lookup {
  const Client::Impl& impl;
  Result::Enum result = Result::Success;
  const DescriptionIndex* description = nullptr;
  std::uint32_t subject = DescriptionIndex::npos;

  Lookup(const Client::Impl& i, const String* subjectName) : impl(i) {
    if (!impl.haveTaken || !impl.takenFrame.description) {
      result = Result::NoFrame;
      return;
    }
    description = impl.takenFrame.description.get();
    if (subjectName == nullptr) return;
    subject = description->subject(view(*subjectName));
    if (subject == DescriptionIndex::npos) result = Result::InvalidSubjectName;
  }

  const protocol::SubjectInfo& subjectInfo() const { return description->subjects()[subject]; }
  const protocol::Frame& frame() const { return impl.takenFrame.frame; }
};

}  // namespace

Output_GetSubjectCount Client::GetSubjectCount() const {
  Impl::TakenGuard lock(impl_->taken);
  Lookup l(*impl_, nullptr);
  if (l.result != Result::Success) return withResult<Output_GetSubjectCount>(l.result);
  Output_GetSubjectCount out;
  out.Result = Result::Success;
  out.SubjectCount = static_cast<unsigned int>(l.description->subjects().size());
  return out;
}

Output_GetSubjectName Client::GetSubjectName(unsigned int SubjectIndex) const {
  return guarded<Output_GetSubjectName>([&] {
    Impl::TakenGuard lock(impl_->taken);
    Lookup l(*impl_, nullptr);
    if (l.result != Result::Success) return withResult<Output_GetSubjectName>(l.result);
    if (SubjectIndex >= l.description->subjects().size()) {
      return withResult<Output_GetSubjectName>(Result::InvalidIndex);
    }
    Output_GetSubjectName out;
    out.Result = Result::Success;
    out.SubjectName = l.description->subjects()[SubjectIndex].name;
    return out;
  });
}

Output_GetSegmentCount Client::GetSegmentCount(const String& SubjectName) const {
  Impl::TakenGuard lock(impl_->taken);
  Lookup l(*impl_, &SubjectName);
  if (l.result != Result::Success) return withResult<Output_GetSegmentCount>(l.result);
  Output_GetSegmentCount out;
  out.Result = Result::Success;
  out.SegmentCount = static_cast<unsigned int>(l.subjectInfo().segments.size());
  return out;
}

Output_GetSegmentName Client::GetSegmentName(const String& SubjectName,
                                             unsigned int SegmentIndex) const {
  return guarded<Output_GetSegmentName>([&] {
    Impl::TakenGuard lock(impl_->taken);
    Lookup l(*impl_, &SubjectName);
    if (l.result != Result::Success) return withResult<Output_GetSegmentName>(l.result);
    if (SegmentIndex >= l.subjectInfo().segments.size()) {
      return withResult<Output_GetSegmentName>(Result::InvalidIndex);
    }
    Output_GetSegmentName out;
    out.Result = Result::Success;
    out.SegmentName = l.subjectInfo().segments[SegmentIndex].name;
    return out;
  });
}

Output_GetSegmentParentName Client::GetSegmentParentName(const String& SubjectName,
                                                         const String& SegmentName) const {
  return guarded<Output_GetSegmentParentName>([&] {
    Impl::TakenGuard lock(impl_->taken);
    Lookup l(*impl_, &SubjectName);
    if (l.result != Result::Success) return withResult<Output_GetSegmentParentName>(l.result);
    const std::uint32_t k = l.description->segment(l.subject, view(SegmentName));
    if (k == DescriptionIndex::npos) {
      return withResult<Output_GetSegmentParentName>(Result::InvalidSegmentName);
    }
    Output_GetSegmentParentName out;
    out.Result = Result::Success;
    out.SegmentName = l.subjectInfo().segments[k].parent;
    return out;
  });
}

Output_GetSegmentLocalTranslation Client::GetSegmentLocalTranslation(
    const String& SubjectName, const String& SegmentName) const {
  Impl::TakenGuard lock(impl_->taken);
  Lookup l(*impl_, &SubjectName);
  if (l.result != Result::Success) return withResult<Output_GetSegmentLocalTranslation>(l.result);
  const std::uint32_t k = l.description->segment(l.subject, view(SegmentName));
  if (k == DescriptionIndex::npos) {
    return withResult<Output_GetSegmentLocalTranslation>(Result::InvalidSegmentName);
  }
  if (!(l.frame().kinds & protocol::Kind::Segments)) {
    return withResult<Output_GetSegmentLocalTranslation>(Result::NoFrame);
  }
  const protocol::SegmentSample& s = l.frame().segments[l.description->firstSegment(l.subject) + k];
  Output_GetSegmentLocalTranslation out;
  out.Result = Result::Success;
  impl_->mapping.mapVector(s.translation, out.Translation);
  out.Occluded = s.occluded;
  return out;
}

Output_GetSegmentLocalRotationQuaternion Client::GetSegmentLocalRotationQuaternion(
    const String& SubjectName, const String& SegmentName) const {
  Impl::TakenGuard lock(impl_->taken);
  Lookup l(*impl_, &SubjectName);
  if (l.result != Result::Success) {
    return withResult<Output_GetSegmentLocalRotationQuaternion>(l.result);
  }
  const std::uint32_t k = l.description->segment(l.subject, view(SegmentName));
  if (k == DescriptionIndex::npos) {
    return withResult<Output_GetSegmentLocalRotationQuaternion>(Result::InvalidSegmentName);
  }
  if (!(l.frame().kinds & protocol::Kind::Segments)) {
    return withResult<Output_GetSegmentLocalRotationQuaternion>(Result::NoFrame);
  }
  const protocol::SegmentSample& s = l.frame().segments[l.description->firstSegment(l.subject) + k];
  Output_GetSegmentLocalRotationQuaternion out;
  out.Result = Result::Success;
  impl_->mapping.mapQuaternion(s.rotation, out.Rotation);
  out.Occluded = s.occluded;
  return out;
}

Output_GetMarkerCount Client::GetMarkerCount(const String& SubjectName) const {
  Impl::TakenGuard lock(impl_->taken);
  Lookup l(*impl_, &SubjectName);
  if (l.result != Result::Success) return withResult<Output_GetMarkerCount>(l.result);
  Output_GetMarkerCount out;
  out.Result = Result::Success;
  out.MarkerCount = static_cast<unsigned int>(l.subjectInfo().markers.size());
  return out;
}

Output_GetMarkerName Client::GetMarkerName(const String& SubjectName,
                                           unsigned int MarkerIndex) const {
  return guarded<Output_GetMarkerName>([&] {
    Impl::TakenGuard lock(impl_->taken);
    Lookup l(*impl_, &SubjectName);
    if (l.result != Result::Success) return withResult<Output_GetMarkerName>(l.result);
    if (MarkerIndex >= l.subjectInfo().markers.size()) {
      return withResult<Output_GetMarkerName>(Result::InvalidIndex);
    }
    Output_GetMarkerName out;
    out.Result = Result::Success;
    out.MarkerName = l.subjectInfo().markers[MarkerIndex];
    return out;
  });
}

Output_GetMarkerGlobalTranslation Client::GetMarkerGlobalTranslation(
    const String& SubjectName, const String& MarkerName) const {
  Impl::TakenGuard lock(impl_->taken);
  Lookup l(*impl_, &SubjectName);
  if (l.result != Result::Success) return withResult<Output_GetMarkerGlobalTranslation>(l.result);
  const std::uint32_t k = l.description->marker(l.subject, view(MarkerName));
  if (k == DescriptionIndex::npos) {
    return withResult<Output_GetMarkerGlobalTranslation>(Result::InvalidMarkerName);
  }
  if (!(l.frame().kinds & protocol::Kind::Markers)) {
    return withResult<Output_GetMarkerGlobalTranslation>(Result::NoFrame);
  }
  const protocol::MarkerSample& m = l.frame().markers[l.description->firstMarker(l.subject) + k];
  Output_GetMarkerGlobalTranslation out;
  out.Result = Result::Success;
  impl_->mapping.mapVector(m.position, out.Translation);
  out.Occluded = m.occluded;
  return out;
}

Output_GetUnlabeledMarkerCount Client::GetUnlabeledMarkerCount() const {
  Impl::TakenGuard lock(impl_->taken);
  Lookup l(*impl_, nullptr);
  if (l.result != Result::Success) return withResult<Output_GetUnlabeledMarkerCount>(l.result);
  if (!(l.frame().kinds & protocol::Kind::Unlabeled)) {
    return withResult<Output_GetUnlabeledMarkerCount>(Result::NoFrame);
  }
  Output_GetUnlabeledMarkerCount out;
  out.Result = Result::Success;
  out.MarkerCount = static_cast<unsigned int>(l.frame().unlabeled.size());
  return out;
}

Output_GetUnlabeledMarkerGlobalTranslation Client::GetUnlabeledMarkerGlobalTranslation(
    unsigned int MarkerIndex) const {
  Impl::TakenGuard lock(impl_->taken);
  Lookup l(*impl_, nullptr);
  if (l.result != Result::Success) {
    return withResult<Output_GetUnlabeledMarkerGlobalTranslation>(l.result);
  }
  if (!(l.frame().kinds & protocol::Kind::Unlabeled)) {
    return withResult<Output_GetUnlabeledMarkerGlobalTranslation>(Result::NoFrame);
  }
  if (MarkerIndex >= l.frame().unlabeled.size()) {
    return withResult<Output_GetUnlabeledMarkerGlobalTranslation>(Result::InvalidIndex);
  }
  Output_GetUnlabeledMarkerGlobalTranslation out;
  out.Result = Result::Success;
  impl_->mapping.mapVector(l.frame().unlabeled[MarkerIndex].position, out.Translation);
  return out;
}

// ---- Test access -------------------------------------------------------------

std::uint64_t ClientTestAccess::bytesReceived(const Client& client) {
  return client.impl_->bytesReceived.load();
}

std::uint64_t ClientTestAccess::framesReceived(const Client& client) {
  return client.impl_->framesReceived.load();
}

std::string ClientTestAccess::lastErrorText(const Client& client) {
  std::lock_guard<std::mutex> lock(client.impl_->state);
  return client.impl_->lastErrorText;
}

Result::Enum ClientTestAccess::lastError(const Client& client) {
  std::lock_guard<std::mutex> lock(client.impl_->state);
  return client.impl_->lastError;
}

}  // namespace OrbelDataStreamSDK::CPP
