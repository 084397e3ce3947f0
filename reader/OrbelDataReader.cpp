#include "OrbelDataReader.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#if defined(_MSC_VER)
#include <xmmintrin.h>
#endif
#include <new>
#include <string>
#include <utility>

#include <fbsdk/fbrotation.h>
#include <fbsdk/fbvector.h>

#include "orbel_defaults.h"  // the plug-in's default server address

namespace sdk = OrbelDataStreamSDK::CPP;
using orbel::platform::ScopedWait;

namespace {

FBString ToText(const sdk::String& text) { return FBString(text.c_str()); }

// Whether two texts of the same size match. Word by word, the last word
// overlapping the one before: this runs twice per record on every frame, on
// short names, where a call to memcmp costs more than the comparison.
template <typename Word>
Word WordAt(const char* p) {
  Word word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

inline bool SameBytes(const char* a, const char* b, std::size_t size) {
  if (size < 4) return std::equal(a, a + size, b);
  if (size < 8) {
    return WordAt<std::uint32_t>(a) == WordAt<std::uint32_t>(b) &&
           WordAt<std::uint32_t>(a + size - 4) == WordAt<std::uint32_t>(b + size - 4);
  }
  for (std::size_t at = 0; at + 8 < size; at += 8) {
    if (WordAt<std::uint64_t>(a + at) != WordAt<std::uint64_t>(b + at)) return false;
  }
  return WordAt<std::uint64_t>(a + size - 8) == WordAt<std::uint64_t>(b + size - 8);
}

// Keeps a record's client-side copy of a name in step with its text without
// building a new client String on every frame.
inline void SyncClientText(sdk::String& clientText, const FBString& text) {
  const std::string& wanted = text.str();
  if (clientText.size() == wanted.size() &&
      SameBytes(clientText.c_str(), wanted.data(), wanted.size())) {
    return;
  }
  clientText = sdk::String(text.Buffer());
}

// The stream sends unsigned fields; the host takes int. Values beyond int are
// kept out of range (the host refuses them) rather than wrapped into range.
int ToTimecodeField(unsigned int value) {
  return value > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

}  // namespace

OrbelDataReader::OrbelDataReader()
    : mHostName(kOrbelDefaultServerHost), mPort(kOrbelDefaultServerPort) {
  mClient = std::make_unique<Client>();
  mPauseLock = orbel::platform::CreateMutexA(nullptr, false, "");
  mDataLock = orbel::platform::CreateMutexA(nullptr, false, "");
  assert(mPauseLock != nullptr && mDataLock != nullptr && "reader locks could not be created");
}

OrbelDataReader::~OrbelDataReader() {
  ReleaseClient();
  ClearDescription();
  orbel::platform::CloseHandle(mDataLock);
  orbel::platform::CloseHandle(mPauseLock);
}

void OrbelDataReader::ReleaseClient() {
  if (mClient && mConnected) mClient->Disconnect();
  mClient.reset();
}

void OrbelDataReader::SetConnectClock(OrbelReaderClock clock) { mClock = std::move(clock); }

std::int64_t OrbelDataReader::NowMs() const {
  return mClock.nowMs ? mClock.nowMs() : orbel::platform::MonotonicMilliSeconds();
}

void OrbelDataReader::SleepMs(std::uint32_t ms) const {
  if (mClock.sleepMs) {
    mClock.sleepMs(ms);
  } else {
    orbel::platform::Sleep(ms);
  }
}

// ---- connection and stream options ----

bool OrbelDataReader::ConnectToServer(int timeoutSeconds) {
  if (!mClient) return false;
  sdk::String address;
  try {
    address = sdk::String(std::string(mHostName.Buffer()) + ":" + mPort.Buffer());
  } catch (const std::bad_alloc&) {
    return false;
  }
  // A monotonic clock: the C library's processor-time clock stands still
  // while this loop sleeps, so the limit would never be reached.
  mConnectStart = NowMs();
  const std::int64_t limitMs = static_cast<std::int64_t>(timeoutSeconds) * 1000;
  bool connected = mClient->IsConnected().Connected;
  while (!connected) {
    if (NowMs() - mConnectStart > limitMs) return false;
    mClient->Connect(address);
    SleepMs(kConnectRetryMs);
    connected = mClient->IsConnected().Connected;
  }

  mConnected = true;
  {
    // Another server may number its frames from anywhere.
    ScopedWait data(mDataLock, kLockWaitMs);
    if (data.owns()) mHaveFrameNumber = false;
  }
  mClient->EnableDeviceData();
  SetSegmentData(mSegmentDataWanted.load());
  SetMarkerData(mMarkerDataWanted.load());
  SetUnlabeledMarkerData(mUnlabeledMarkerDataWanted.load());
  mClient->SetStreamMode(sdk::StreamMode::ClientPull);
  SetAxisMapping(0);
  return true;
}

bool OrbelDataReader::DisconnectFromServer() {
  if (!mClient) return false;
  return mClient->Disconnect().Result == sdk::Result::Success;
}

bool OrbelDataReader::SetSegmentData(bool wanted) {
  if (!mClient) return false;
  if (wanted) {
    mClient->EnableSegmentData();
  } else {
    mClient->DisableSegmentData();
  }
  mSegmentDataWanted.store(wanted);
  return true;
}

bool OrbelDataReader::SetMarkerData(bool wanted) {
  if (!mClient) return false;
  if (wanted) {
    mClient->EnableMarkerData();
  } else {
    mClient->DisableMarkerData();
  }
  mMarkerDataWanted.store(wanted);
  return true;
}

bool OrbelDataReader::SetUnlabeledMarkerData(bool wanted) {
  if (!mClient) return false;
  if (wanted) {
    mClient->EnableUnlabeledMarkerData();
  } else {
    mClient->DisableUnlabeledMarkerData();
  }
  mUnlabeledMarkerDataWanted.store(wanted);
  return true;
}

bool OrbelDataReader::SegmentDataEnabled() const {
  return mClient && mClient->IsSegmentDataEnabled().Enabled;
}

bool OrbelDataReader::MarkerDataEnabled() const {
  return mClient && mClient->IsMarkerDataEnabled().Enabled;
}

bool OrbelDataReader::UnlabeledMarkerDataEnabled() const {
  return mClient && mClient->IsUnlabeledMarkerDataEnabled().Enabled;
}

bool OrbelDataReader::SetAxisMapping(int choice) {
  if (!mClient) return false;
  if (choice == 0) {
    mClient->SetAxisMapping(sdk::Direction::PositiveX, sdk::Direction::NegativeZ,
                            sdk::Direction::PositiveY);
  } else {
    mClient->SetAxisMapping(sdk::Direction::PositiveX, sdk::Direction::PositiveY,
                            sdk::Direction::PositiveZ);
  }
  return true;
}

bool OrbelDataReader::SetPaused(bool paused) {
  ScopedWait pause(mPauseLock, kLockWaitMs);
  if (!pause.owns()) return false;
  mPaused = paused;
  return true;
}

bool OrbelDataReader::Paused() const {
  ScopedWait pause(mPauseLock, kLockWaitMs);
  // Unknown counts as paused: nothing should be fetched on a guess.
  return !pause.owns() || mPaused;
}

bool OrbelDataReader::StreamOptionsApplied() const {
  if (!mClient) return false;
  return mClient->IsConnected().Connected &&
         mClient->IsSegmentDataEnabled().Enabled == mSegmentDataWanted.load() &&
         mClient->IsMarkerDataEnabled().Enabled == mMarkerDataWanted.load() &&
         mClient->IsUnlabeledMarkerDataEnabled().Enabled == mUnlabeledMarkerDataWanted.load();
}

bool OrbelDataReader::RequestFrame() {
  if (!mClient) return false;
  return mClient->GetFrame().Result == sdk::Result::Success;
}

// ---- scene description ----

FBString OrbelDataReader::QualifiedName(const FBString& name, const FBString& subject,
                                        bool stripCharacterName) {
  const std::string& n = name.str();
  const std::string& s = subject.str();
  const std::size_t first = n.find(':');
  // A name that already carries its own subject as namespace gets no second one.
  std::string result =
      (first != std::string::npos && n.compare(0, first, s) == 0 && first == s.size())
          ? std::string()
          : s + ":";
  if (stripCharacterName) {
    result += n;
  } else if (first == std::string::npos) {
    result += s;
    result += '_';
    result += n;
  } else {
    const std::size_t last = n.rfind(':');
    result.append(n, 0, last + 1);
    result += s;
    result += '_';
    result.append(n, last + 1, std::string::npos);
  }
  return FBString(std::move(result));
}

void OrbelDataReader::ClearDescription() {
  DescriptionChanged();
  segments.clear();
  markers.clear();
  unlabeledMarkers.clear();
  subjectNames.clear();
}

bool OrbelDataReader::ReadDescription(bool stripCharacterName) {
  try {
    return RebuildDescription(stripCharacterName);
  } catch (const std::bad_alloc&) {
    // A half-built description is worse than none; the caller sees false.
    ScopedWait data(mDataLock, kLockWaitMs);
    if (data.owns()) ClearDescription();
    return false;
  }
}

namespace {

// A copy to store, its texts allocated now, but for the parent key, which no
// frame reads: that one is moved, so that its text stays out of the frames'
// way.
SegmentRecord Laid(SegmentRecord& pending) {
  FBString parentKey = std::move(pending.parentKey);
  SegmentRecord record(pending);
  record.parentKey = std::move(parentKey);
  return record;
}

MarkerRecord Laid(const MarkerRecord& pending) { return pending; }

// Stores the records in key order, each one built as it is stored (the
// key's text is moved); a name given twice keeps its last record, as storing
// them one by one in the server's order would. A frame walks the records in
// key order: laid out in that order they are a stream the processor fetches
// ahead by itself, where records stored in the server's order sent every
// frame's walk back and forth across the heap.
template <typename Map, typename Record>
void StoreInKeyOrder(Map& map, std::vector<std::pair<FBString, Record>>& pending) {
  std::stable_sort(pending.begin(), pending.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& entry : pending) map.insert_or_assign(std::move(entry.first), Laid(entry.second));
}

}  // namespace

bool OrbelDataReader::RebuildDescription(bool stripCharacterName) {
  if (!StreamOptionsApplied()) return false;
  if (mClient->GetFrame().Result != sdk::Result::Success) return false;
  ScopedWait data(mDataLock, kLockWaitMs);
  if (!data.owns()) return false;

  ClearDescription();
  std::vector<std::pair<FBString, SegmentRecord>> newSegments;
  std::vector<std::pair<FBString, MarkerRecord>> newMarkers;
  std::vector<std::pair<FBString, MarkerRecord>> newUnlabeled;
  const unsigned int subjectCount = mClient->GetSubjectCount().SubjectCount;
  for (unsigned int s = 0; s < subjectCount; ++s) {
    const sdk::String clientSubject = mClient->GetSubjectName(s).SubjectName;
    if (clientSubject.empty()) break;
    const FBString subject = ToText(clientSubject);
    subjectNames.push_back(subject);

    const unsigned int segmentCount = mClient->GetSegmentCount(clientSubject).SegmentCount;
    for (unsigned int k = 0; k < segmentCount; ++k) {
      const sdk::String clientName = mClient->GetSegmentName(clientSubject, k).SegmentName;
      sdk::String clientParent =
          mClient->GetSegmentParentName(clientSubject, clientName).SegmentName;
      if (clientParent.empty()) clientParent = clientName;
      SegmentRecord record;
      record.subject = subject;
      record.name = ToText(clientName);
      record.parentKey = QualifiedName(ToText(clientParent), subject, stripCharacterName);
      record.root = clientName == clientParent;
      record.mClientSubject = clientSubject;
      record.mClientName = clientName;
      newSegments.emplace_back(QualifiedName(record.name, subject, stripCharacterName),
                               std::move(record));
    }

    const unsigned int markerCount = mClient->GetMarkerCount(clientSubject).MarkerCount;
    for (unsigned int k = 0; k < markerCount; ++k) {
      const sdk::String clientName = mClient->GetMarkerName(clientSubject, k).MarkerName;
      MarkerRecord record;
      record.subject = subject;
      record.name = ToText(clientName);
      record.mClientSubject = clientSubject;
      record.mClientName = clientName;
      newMarkers.emplace_back(QualifiedName(record.name, subject, stripCharacterName),
                              std::move(record));
    }
  }

  int count = unlabeledMarkerCount;
  if (count < 0) count = 0;
  if (count > kMaxUnlabeledMarkerCount) count = kMaxUnlabeledMarkerCount;
  for (int n = 0; n < count; ++n) {
    MarkerRecord record;
    record.subject = kUnlabeledSubject;
    record.name = FBString(std::to_string(n));
    FBString key = FBString(kUnlabeledSubject) + ":" + record.name;
    newUnlabeled.emplace_back(std::move(key), std::move(record));
  }
  StoreInKeyOrder(segments, newSegments);
  StoreInKeyOrder(markers, newMarkers);
  StoreInKeyOrder(unlabeledMarkers, newUnlabeled);
  return true;
}

// ---- frames ----

bool OrbelDataReader::ReadFrame(FBTime time) {
  ScopedWait data(mDataLock, kLockWaitMs);
  if (!data.owns()) return false;
  bool paused = true;
  {
    ScopedWait pause(mPauseLock, kLockWaitMs);
    // Without the pause lock the flag is unknown; fetching nothing is the
    // answer that cannot override a pause.
    if (!pause.owns()) return false;
    paused = mPaused;
  }
  if (paused || !StreamOptionsApplied()) return false;
  // Without room for the walk order the frame is left for a later call.
  const WalkOrder* order = CurrentWalkOrder();
  if (order == nullptr) return false;

  // A frame is new when its number differs from the last one read: the
  // client's own answer to GetFrame cannot tell, since a description read
  // takes a frame whose values no sample has read yet.
  mClient->GetFrame();
  const sdk::Output_GetFrameNumber number = mClient->GetFrameNumber();
  if (number.Result != sdk::Result::Success) return false;
  if (mHaveFrameNumber && number.FrameNumber == mLastFrameNumber) return false;
  mHaveFrameNumber = true;
  mLastFrameNumber = number.FrameNumber;
  ++mFrameSerial;

  mFrameTime = time;
  if (UseTimecode()) UpdateTimecode();
  if (mBasePending && mTimecodeReceived) {
    // The time line waited for this first timecode: this sample is its start.
    mBasePending = false;
    mBaseTime = timecode.GetTime();
    mPreviousFrameTime = mFrameTime;
  }
  if (mClient->IsSegmentDataEnabled().Enabled) ReadSegments(order->segments);
  if (mClient->IsMarkerDataEnabled().Enabled) ReadMarkers(order->markers);
  if (mClient->IsUnlabeledMarkerDataEnabled().Enabled) {
    ReadUnlabeledMarkers(order->unlabeledMarkers);
  }
  return true;
}

namespace {

template <typename Map>
const void* FirstRecord(const Map& map) {
  return map.empty() ? nullptr : &map.begin()->second;
}

template <typename Map>
const void* LastRecord(const Map& map) {
  return map.empty() ? nullptr : &map.rbegin()->second;
}

template <typename Map, typename Record>
void ListRecords(Map& map, std::vector<Record*>& records) {
  records.clear();  // keeps its room: the same scene described again allocates nothing
  records.reserve(map.size());
  for (auto& entry : map) records.push_back(&entry.second);
}

}  // namespace

const OrbelDataReader::WalkOrder* OrbelDataReader::CurrentWalkOrder() {
  WalkOrder& order = mWalkOrder;
  const std::size_t sizes[3] = {segments.size(), markers.size(), unlabeledMarkers.size()};
  const void* ends[6] = {FirstRecord(segments),         LastRecord(segments),
                         FirstRecord(markers),          LastRecord(markers),
                         FirstRecord(unlabeledMarkers), LastRecord(unlabeledMarkers)};
  if (order.built && order.revision == mDescriptionRevision &&
      std::equal(sizes, sizes + 3, order.sizes) && std::equal(ends, ends + 6, order.ends)) {
    return &order;
  }
  order.built = false;
  try {
    ListRecords(segments, order.segments);
    ListRecords(markers, order.markers);
    ListRecords(unlabeledMarkers, order.unlabeledMarkers);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  order.built = true;
  order.revision = mDescriptionRevision;
  std::copy(sizes, sizes + 3, order.sizes);
  std::copy(ends, ends + 6, order.ends);
  return &order;
}

namespace {

// Fetching ahead in two stages: a record's own cache lines far ahead, and,
// once they have arrived, the texts of its names that live outside it (names
// longer than the strings keep inline). Both were misses on every record of
// every frame: the records sit in map nodes spread over the heap, and a
// fetch only a few records ahead did not cover the time memory takes here.
constexpr std::size_t kRecordAhead = 12;
constexpr std::size_t kTextAhead = 6;

inline void Fetch(const void* address) {
  // GCC (12, at -O2) judges a function whose only work is __builtin_prefetch
  // free of effects and deletes the calls to it: the walk's fetches were
  // found missing from the object code. An asm statement cannot be deleted.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
  _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#elif defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

template <typename Record>
inline void FetchRecord(const Record* record) {
  const char* first = reinterpret_cast<const char*>(record);
  for (std::size_t line = 0; line < sizeof(Record); line += 64) Fetch(first + line);
  Fetch(first + sizeof(Record) - 1);
}

// The lines that hold a record's values and serial.
inline void FetchValues(const SegmentRecord* record) {
  Fetch(record->translation);
  Fetch(&record->sampleSerial);
}

inline void FetchValues(const MarkerRecord* record) {
  Fetch(record->position);
  Fetch(&record->sampleSerial);
}

// The library writes its answer's values one by one, and the answer is read
// right after. Two of them read as one wide load (as the compiler likes to
// when it copies them on) cannot be taken from the pending stores and wait
// until both reach the cache; that wait was most of an unlabelled marker's
// time. Volatile reads keep each value a load of its own.
template <std::size_t n>
inline void CopyAnswer(const double (&answer)[n], double (&values)[n]) {
  const volatile double* from = answer;
  for (std::size_t i = 0; i < n; ++i) values[i] = from[i];
}

// x * 0 is 0 for every finite x and NaN otherwise: one test for all n
// values, where a branch each cost more on thousands of values a frame.
bool AllFinite(const double* values, int n) {
  double zeros = 0.0;
  for (int i = 0; i < n; ++i) zeros += values[i] * 0.0;
  return std::isfinite(zeros);
}

}  // namespace

template <typename Record>
void OrbelDataReader::FetchAhead(const std::vector<Record*>& records, std::size_t at, bool texts) {
  if (at + kRecordAhead < records.size()) {
    if (texts) {
      FetchRecord(records[at + kRecordAhead]);
    } else {
      // A walk without texts writes only the values: the record's other
      // lines would take room on the way from memory for nothing.
      FetchValues(records[at + kRecordAhead]);
    }
  }
  if (texts && at + kTextAhead < records.size()) {
    const Record& record = *records[at + kTextAhead];
    Fetch(record.subject.Buffer());
    Fetch(record.name.Buffer());
    Fetch(record.mClientSubject.c_str());
    Fetch(record.mClientName.c_str());
  }
}

void OrbelDataReader::ReadSegments(const std::vector<SegmentRecord*>& records) {
  for (std::size_t at = 0; at < records.size(); ++at) {
    FetchAhead(records, at, true);
    SegmentRecord& record = *records[at];
    SyncClientText(record.mClientSubject, record.subject);
    SyncClientText(record.mClientName, record.name);
    const sdk::Output_GetSegmentLocalTranslation translation =
        mClient->GetSegmentLocalTranslation(record.mClientSubject, record.mClientName);
    const sdk::Output_GetSegmentLocalRotationQuaternion rotation =
        mClient->GetSegmentLocalRotationQuaternion(record.mClientSubject, record.mClientName);
    // A segment the frame does not carry (its subject left the stream) keeps
    // its last pose, as does one with a value that is not a number: a pose
    // is taken whole or not at all.
    if (translation.Result != sdk::Result::Success || rotation.Result != sdk::Result::Success) {
      continue;
    }
    double position[3];
    double turn[4];
    CopyAnswer(translation.Translation, position);
    CopyAnswer(rotation.Rotation, turn);
    if (!AllFinite(position, 3) || !AllFinite(turn, 4)) continue;
    const FBVector4<double> quaternion(turn);
    FBVector3<double> euler;
    FBQuaternionToRotation(euler, quaternion, kFBXYZ);
    // A quaternion of finite but absurd values can still turn into angles
    // that are not numbers.
    if (!AllFinite(euler.data(), 3)) continue;
    for (int i = 0; i < 3; ++i) record.translation[i] = position[i];
    for (int i = 0; i < 3; ++i) record.rotation[i] = euler[static_cast<std::size_t>(i)];
    record.sampleSerial = mFrameSerial;
  }
}

void OrbelDataReader::ReadMarkers(const std::vector<MarkerRecord*>& records) {
  for (std::size_t at = 0; at < records.size(); ++at) {
    FetchAhead(records, at, true);
    MarkerRecord& record = *records[at];
    SyncClientText(record.mClientSubject, record.subject);
    SyncClientText(record.mClientName, record.name);
    const sdk::Output_GetMarkerGlobalTranslation answer =
        mClient->GetMarkerGlobalTranslation(record.mClientSubject, record.mClientName);
    if (answer.Result != sdk::Result::Success) continue;
    double position[3];
    CopyAnswer(answer.Translation, position);
    if (!AllFinite(position, 3)) continue;
    for (int i = 0; i < 3; ++i) record.position[i] = position[i];
    record.sampleSerial = mFrameSerial;
  }
}

void OrbelDataReader::ReadUnlabeledMarkers(const std::vector<MarkerRecord*>& records) {
  // Indices follow the key order, not the number in the key: with twelve
  // records, Unlabeled:10 takes index 2. Stored scenes and recordings rely on
  // this order, so it stays.
  for (std::size_t at = 0; at < records.size(); ++at) {
    FetchAhead(records, at, false);
    const sdk::Output_GetUnlabeledMarkerGlobalTranslation answer =
        mClient->GetUnlabeledMarkerGlobalTranslation(static_cast<unsigned int>(at));
    // An index beyond the frame's count takes what the library answers for
    // it; a value that is not a number is never taken.
    double position[3];
    CopyAnswer(answer.Translation, position);
    if (!AllFinite(position, 3)) continue;
    MarkerRecord& record = *records[at];
    for (int i = 0; i < 3; ++i) record.position[i] = position[i];
    record.sampleSerial = mFrameSerial;
  }
}

bool OrbelDataReader::NextFrame(FBTime& time) {
  const kLongLong intervalMs = 1000 / mFetchRate;
  const kLongLong sinceFetchMs = (mPollTime - mLastFetchTime).GetMilliSeconds();
  if (sinceFetchMs <= intervalMs) {
    mPollTime = mSystem.SystemTime.Get();
    return false;
  }
  if (!ReadFrame(mPollTime)) {
    // Keep the poll time current while nothing can be fetched (paused, say):
    // otherwise the first sample afterwards would be stamped with the time
    // the refusals began, however long ago that was.
    mPollTime = mSystem.SystemTime.Get();
    return false;
  }
  mLastFetchTime = mPollTime;
  mPollTime.SetMilliSeconds(mPollTime.GetMilliSeconds() + intervalMs);

  // ResetFrameTime moves the time line's origin from another thread.
  ScopedWait data(mDataLock, kLockWaitMs);
  if (!data.owns()) return false;
  time = (mFrameTime - mPreviousFrameTime) + mBaseTime;
  return true;
}

bool OrbelDataReader::ResetFrameTime(FBTime time) {
  ScopedWait data(mDataLock, kLockWaitMs);
  if (!data.owns()) return false;
  mPreviousFrameTime = mFrameTime;
  mBaseTime = time;
  mBasePending = false;
  if (UseTimecode()) {
    // Before any timecode came the label is 00:00:00:00, a time hours away
    // from the stream's: the first real one sets the origin instead.
    mBaseTime = timecode.GetTime();
    mBasePending = !mTimecodeReceived;
  }
  return true;
}

bool OrbelDataReader::FrameTimeBase(FBTime& base) const {
  ScopedWait data(mDataLock, kLockWaitMs);
  if (!data.owns() || mBasePending) return false;
  base = mBaseTime;
  return true;
}

bool OrbelDataReader::LastSampleTime(FBTime& time) const {
  ScopedWait data(mDataLock, kLockWaitMs);
  if (!data.owns()) return false;
  time = (mFrameTime - mPreviousFrameTime) + mBaseTime;
  return true;
}

// ---- timecode ----

bool OrbelDataReader::ReadTimecodeStandard() {
  if (!mClient) return false;
  const sdk::Output_GetTimecode stream = mClient->GetTimecode();
  FBTimeCode::Rate rate = FBTimeCode::NTSC_DROP;
  bool known = true;
  // Compared as a number: a server may send a code this build has no name for.
  switch (static_cast<int>(stream.Standard)) {
    case sdk::TimecodeStandard::PAL:
      rate = FBTimeCode::PAL_25;
      break;
    case sdk::TimecodeStandard::NTSC:
      rate = FBTimeCode::NTSC_FULL;
      break;
    case sdk::TimecodeStandard::NTSCDrop:
      rate = FBTimeCode::NTSC_DROP;
      break;
    case sdk::TimecodeStandard::Film:
      rate = FBTimeCode::FILM_24;
      break;
    default:
      known = false;
      break;
  }
  ScopedWait data(mDataLock, kLockWaitMs);
  if (!data.owns()) return false;
  timecode = FBTimeCode(rate);
  mTimecodeReceived = false;
  return known;
}

void OrbelDataReader::UpdateTimecode() {
  if (!mClient) return;
  const sdk::Output_GetTimecode stream = mClient->GetTimecode();
  // A label the rate does not have is refused by the host and the last good
  // timecode stays.
  if (timecode.SetTimeCode(ToTimecodeField(stream.Hours), ToTimecodeField(stream.Minutes),
                           ToTimecodeField(stream.Seconds), static_cast<float>(stream.Frames))) {
    mTimecodeReceived = true;
  }
}
