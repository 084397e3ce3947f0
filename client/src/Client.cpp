#include "OrbelDataStreamSDK/Client.h"

#include <algorithm>
#include <climits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#if defined(_MSC_VER)
#include <xmmintrin.h>
#endif

#include "ClientImpl.h"
#include "ClientTesting.h"
#include "DiagnosticsRecord.h"

namespace OrbelDataStreamSDK::CPP {

namespace protocol = orbel::protocol;
using orbel::client::DescriptionIndex;

// The library's side of a caller's name: its text and its lookup hint.
struct StringAccess {
  static std::string_view view(const String& s) { return {s.text_.data(), s.text_.size()}; }
  static DescriptionIndex::Hint& hint(const String& s) { return s.lookupHint_; }
};

namespace {

std::string_view view(const String& s) { return StringAccess::view(s); }
DescriptionIndex::Hint& hint(const String& s) { return StringAccess::hint(s); }

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

// Starts bringing a range of memory into the cache, at most `limit` bytes
// of it. On x86 the instruction is written out: GCC may judge a function
// whose only work is __builtin_prefetch free of effects and delete it.
void FetchRange(const void* first, std::size_t bytes, std::size_t limit) {
  const char* at = static_cast<const char*>(first);
  const char* end = at + std::min(bytes, limit);
  for (; at < end; at += 64) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    asm volatile("prefetcht0 %0" : : "m"(*at));
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
    _mm_prefetch(at, _MM_HINT_T0);
#elif defined(__GNUC__)
    __builtin_prefetch(at);
#endif
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
// A copy has the same text, so the hint holds for it too.
String::String(const String& other)
    : text_(other.text_), lookupHint_(other.lookupHint_.load(std::memory_order_relaxed)) {}
String& String::operator=(const String& other) {
  if (this != &other) {
    text_ = other.text_;
    lookupHint_.store(other.lookupHint_.load(std::memory_order_relaxed), std::memory_order_relaxed);
  }
  return *this;
}
String::~String() = default;
String::operator std::string() const { return text_; }
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
  return guarded<Output_SetAxisMapping>([&] {
    Impl::TakenGuard lock(impl_->taken);
    const std::shared_ptr<orbel::client::TakenState> next = impl_->spareState();
    // Rare (a user's choice), so copying the frame taken is fine here.
    next->snapshot = impl_->current->snapshot;
    next->haveFrame = impl_->current->haveFrame;
    next->mapping = m;
    impl_->publish(next);
    return withResult<Output_SetAxisMapping>(Result::Success);
  });
}

Output_GetAxisMapping Client::GetAxisMapping() const {
  const orbel::client::AxisMapping& mapping = impl_->view().mapping;
  Output_GetAxisMapping out;
  out.XAxis = static_cast<Direction::Enum>(mapping.direction(0));
  out.YAxis = static_cast<Direction::Enum>(mapping.direction(1));
  out.ZAxis = static_cast<Direction::Enum>(mapping.direction(2));
  return out;
}

// ---- Frames ----------------------------------------------------------------

Output_GetFrame Client::GetFrame() {
  if (!impl_->connected) return withResult<Output_GetFrame>(Result::NotConnected);
  // Callers ask for a frame's labelled samples by name, in an order of their
  // own rather than the frame's, so nearly every query found its sample in
  // a line the receive thread wrote and this core had never read. The
  // samples are fetched once as the frame is taken, for about the cost of
  // copying them; beyond a few hundred KiB they would push each other out.
  constexpr std::size_t kFetchLimit = std::size_t{256} * 1024;
  struct Range {
    const void* first = nullptr;
    std::size_t bytes = 0;
  } segments, markers;
  const Output_GetFrame out = guarded<Output_GetFrame>([&] {
    Impl::TakenGuard takenLock(impl_->taken);
    std::lock_guard<std::mutex> pendingLock(impl_->pending);
    if (!impl_->pendingFresh) return withResult<Output_GetFrame>(Result::NoFrame);
    const orbel::client::TakenState& previous = *impl_->current;
    const std::shared_ptr<orbel::client::TakenState> next = impl_->spareState();
    // Swapping hands a spent frame's buffers back to the receive thread, so
    // taking frames allocates nothing once a few states exist.
    std::swap(next->snapshot.frame, impl_->pendingFrame.frame);
    next->snapshot.description.swap(impl_->pendingFrame.description);
    std::swap(next->snapshot.receiveTimeNs, impl_->pendingFrame.receiveTimeNs);
    next->mapping = previous.mapping;
    next->haveFrame = true;
    impl_->pendingFresh = false;
    const protocol::Frame& frame = next->snapshot.frame;
    segments = {frame.segments.data(), frame.segments.size() * sizeof(protocol::SegmentSample)};
    markers = {frame.markers.data(), frame.markers.size() * sizeof(protocol::MarkerSample)};
    orbel::client::RecordFrameTaken(
        next->snapshot.frame.number, next->snapshot.frame.serverSendTimeNs,
        next->snapshot.receiveTimeNs, previous.haveFrame, previous.snapshot.frame.number);
    if (next->snapshot.description && next->snapshot.description != previous.snapshot.description) {
      // A new description is rare; its names are copied only then.
      std::vector<std::string> names;
      for (const auto& subject : next->snapshot.description->subjects()) {
        names.push_back(subject.name);
      }
      orbel::client::RecordDescriptionTaken(std::move(names));
    }
    impl_->publish(next);
    return withResult<Output_GetFrame>(Result::Success);
  });
  // Outside the locks: the receive thread goes on meanwhile. Should another
  // GetFrame hand these buffers back first, a fetch of memory since freed
  // is harmless: it reads nothing and cannot fault.
  if (out.Result == Result::Success) {
    FetchRange(segments.first, segments.bytes, kFetchLimit);
    FetchRange(markers.first, markers.bytes, kFetchLimit - std::min(segments.bytes, kFetchLimit));
  }
  return out;
}

Output_GetFrameNumber Client::GetFrameNumber() const {
  const orbel::client::TakenState& taken = impl_->view();
  Output_GetFrameNumber out;
  if (!taken.haveFrame) return withResult<Output_GetFrameNumber>(Result::NoFrame);
  out.Result = Result::Success;
  out.FrameNumber = static_cast<unsigned int>(taken.snapshot.frame.number);
  return out;
}

Output_GetFrameTiming Client::GetFrameTiming() const {
  const orbel::client::TakenState& taken = impl_->view();
  Output_GetFrameTiming out;
  if (!taken.haveFrame) return withResult<Output_GetFrameTiming>(Result::NoFrame);
  out.Result = Result::Success;
  out.ServerSendTimeNs = taken.snapshot.frame.serverSendTimeNs;
  out.ReceiveTimeNs = taken.snapshot.receiveTimeNs;
  return out;
}

Output_GetTimecode Client::GetTimecode() const {
  const orbel::client::TakenState& taken = impl_->view();
  Output_GetTimecode out;
  if (!taken.haveFrame) return withResult<Output_GetTimecode>(Result::NoFrame);
  const protocol::TimecodeValue& tc = taken.snapshot.frame.timecode;
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
  const orbel::client::TakenState& state;
  Result::Enum result = Result::Success;
  const DescriptionIndex* description = nullptr;
  std::uint32_t subject = DescriptionIndex::npos;

  Lookup(const orbel::client::TakenState& taken, const String* subjectName) : state(taken) {
    if (!state.haveFrame || !state.snapshot.description) {
      result = Result::NoFrame;
      return;
    }
    description = state.snapshot.description.get();
    if (subjectName == nullptr) return;
    subject = description->subject(view(*subjectName), hint(*subjectName));
    if (subject == DescriptionIndex::npos) result = Result::InvalidSubjectName;
  }

  const protocol::SubjectInfo& subjectInfo() const { return description->subjects()[subject]; }
  const protocol::Frame& frame() const { return state.snapshot.frame; }
};

}  // namespace

Output_GetSubjectCount Client::GetSubjectCount() const {
  Lookup l(impl_->view(), nullptr);
  if (l.result != Result::Success) return withResult<Output_GetSubjectCount>(l.result);
  Output_GetSubjectCount out;
  out.Result = Result::Success;
  out.SubjectCount = static_cast<unsigned int>(l.description->subjects().size());
  return out;
}

Output_GetSubjectName Client::GetSubjectName(unsigned int SubjectIndex) const {
  return guarded<Output_GetSubjectName>([&] {
    Lookup l(impl_->view(), nullptr);
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
  Lookup l(impl_->view(), &SubjectName);
  if (l.result != Result::Success) return withResult<Output_GetSegmentCount>(l.result);
  Output_GetSegmentCount out;
  out.Result = Result::Success;
  out.SegmentCount = static_cast<unsigned int>(l.subjectInfo().segments.size());
  return out;
}

Output_GetSegmentName Client::GetSegmentName(const String& SubjectName,
                                             unsigned int SegmentIndex) const {
  return guarded<Output_GetSegmentName>([&] {
    Lookup l(impl_->view(), &SubjectName);
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
    Lookup l(impl_->view(), &SubjectName);
    if (l.result != Result::Success) return withResult<Output_GetSegmentParentName>(l.result);
    const std::uint32_t k = l.description->segment(l.subject, view(SegmentName), hint(SegmentName));
    if (k == DescriptionIndex::npos) {
      return withResult<Output_GetSegmentParentName>(Result::InvalidSegmentName);
    }
    Output_GetSegmentParentName out;
    out.Result = Result::Success;
    out.SegmentName = l.subjectInfo().segments[k].parent;
    return out;
  });
}

namespace {

// The sample of a named segment or marker of the frame taken, or why not.
// The queries below build their answer in the caller's return object and
// return that one object on every path: a copy of it, read right after its
// fields were written one by one, stalls on the store buffer, which cost
// more than the rest of a query. The lookups are written out here rather
// than through Lookup, and inlined: every query of a frame passes here, and
// the call and the object on the stack were a fifth of a query's work.
#if defined(__GNUC__)
#define ORBEL_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define ORBEL_ALWAYS_INLINE inline
#endif

ORBEL_ALWAYS_INLINE Result::Enum segmentSample(const orbel::client::TakenState& state,
                                               const String& subjectName, const String& name,
                                               const protocol::SegmentSample*& s) {
  const DescriptionIndex* d = state.snapshot.description.get();
  if (!state.haveFrame || d == nullptr) return Result::NoFrame;
  const std::uint32_t subject = d->subject(view(subjectName), hint(subjectName));
  if (subject == DescriptionIndex::npos) return Result::InvalidSubjectName;
  const std::uint32_t k = d->segment(subject, view(name), hint(name));
  if (k == DescriptionIndex::npos) return Result::InvalidSegmentName;
  const protocol::Frame& frame = state.snapshot.frame;
  if (!(frame.kinds & protocol::Kind::Segments)) return Result::NoFrame;
  s = &frame.segments[d->firstSegment(subject) + k];
  return Result::Success;
}

ORBEL_ALWAYS_INLINE Result::Enum markerSample(const orbel::client::TakenState& state,
                                              const String& subjectName, const String& name,
                                              const protocol::MarkerSample*& m) {
  const DescriptionIndex* d = state.snapshot.description.get();
  if (!state.haveFrame || d == nullptr) return Result::NoFrame;
  const std::uint32_t subject = d->subject(view(subjectName), hint(subjectName));
  if (subject == DescriptionIndex::npos) return Result::InvalidSubjectName;
  const std::uint32_t k = d->marker(subject, view(name), hint(name));
  if (k == DescriptionIndex::npos) return Result::InvalidMarkerName;
  const protocol::Frame& frame = state.snapshot.frame;
  if (!(frame.kinds & protocol::Kind::Markers)) return Result::NoFrame;
  m = &frame.markers[d->firstMarker(subject) + k];
  return Result::Success;
}

#undef ORBEL_ALWAYS_INLINE

}  // namespace

Output_GetSegmentLocalTranslation Client::GetSegmentLocalTranslation(
    const String& SubjectName, const String& SegmentName) const {
  Output_GetSegmentLocalTranslation out;
  const orbel::client::TakenState& state = impl_->view();
  const protocol::SegmentSample* s = nullptr;
  out.Result = segmentSample(state, SubjectName, SegmentName, s);
  if (out.Result == Result::Success) {
    state.mapping.mapVector(s->translation, out.Translation);
    out.Occluded = s->occluded;
    orbel::client::CheckFinite(s->translation, 3);
  }
  return out;
}

Output_GetSegmentLocalRotationQuaternion Client::GetSegmentLocalRotationQuaternion(
    const String& SubjectName, const String& SegmentName) const {
  Output_GetSegmentLocalRotationQuaternion out;
  const orbel::client::TakenState& state = impl_->view();
  const protocol::SegmentSample* s = nullptr;
  out.Result = segmentSample(state, SubjectName, SegmentName, s);
  if (out.Result == Result::Success) {
    state.mapping.mapQuaternion(s->rotation, out.Rotation);
    out.Occluded = s->occluded;
    orbel::client::CheckFinite(s->rotation, 4);
  }
  return out;
}

Output_GetMarkerCount Client::GetMarkerCount(const String& SubjectName) const {
  Lookup l(impl_->view(), &SubjectName);
  if (l.result != Result::Success) return withResult<Output_GetMarkerCount>(l.result);
  Output_GetMarkerCount out;
  out.Result = Result::Success;
  out.MarkerCount = static_cast<unsigned int>(l.subjectInfo().markers.size());
  return out;
}

Output_GetMarkerName Client::GetMarkerName(const String& SubjectName,
                                           unsigned int MarkerIndex) const {
  return guarded<Output_GetMarkerName>([&] {
    Lookup l(impl_->view(), &SubjectName);
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
  Output_GetMarkerGlobalTranslation out;
  const orbel::client::TakenState& state = impl_->view();
  const protocol::MarkerSample* m = nullptr;
  out.Result = markerSample(state, SubjectName, MarkerName, m);
  if (out.Result == Result::Success) {
    state.mapping.mapVector(m->position, out.Translation);
    out.Occluded = m->occluded;
    orbel::client::CheckFinite(m->position, 3);
  }
  return out;
}

Output_GetUnlabeledMarkerCount Client::GetUnlabeledMarkerCount() const {
  Lookup l(impl_->view(), nullptr);
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
  Output_GetUnlabeledMarkerGlobalTranslation out;
  const Lookup l(impl_->view(), nullptr);
  if (l.result != Result::Success) {
    out.Result = l.result;
  } else if (!(l.frame().kinds & protocol::Kind::Unlabeled)) {
    out.Result = Result::NoFrame;
  } else if (MarkerIndex >= l.frame().unlabeled.size()) {
    out.Result = Result::InvalidIndex;
  } else {
    out.Result = Result::Success;
    const double* position = l.frame().unlabeled[MarkerIndex].position;
    l.state.mapping.mapVector(position, out.Translation);
    orbel::client::CheckFinite(position, 3);
  }
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

std::size_t ClientTestAccess::takenStates(const Client& client) {
  Client::Impl::TakenGuard lock(client.impl_->taken);
  return client.impl_->states.size();
}

Result::Enum ClientTestAccess::lastError(const Client& client) {
  std::lock_guard<std::mutex> lock(client.impl_->state);
  return client.impl_->lastError;
}

}  // namespace OrbelDataStreamSDK::CPP
