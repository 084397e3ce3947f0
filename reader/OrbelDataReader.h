// OrbelDataReader: the device's one link to the capture server. It owns the
// stream client, connects with retries, chooses what the server streams, reads
// the scene description into records and refreshes those records frame by
// frame. The records are the device's only sample buffers.
//
// Callers and threads
// - Device operations and the panel (connect, options, ReadDescription,
//   ResetFrameTime, ReadTimecodeStandard) run on one side; the device's
//   per-sample input (NextFrame, ReadFrame) on another, possibly at the same
//   time. The data lock guards the containers and records and the frame-time
//   line; the pause lock guards the paused flag. The data lock is always taken
//   first, and no wait lasts longer than kLockWaitMs.
// - A lock wait that expires makes the operation answer as when it has
//   nothing to do (false, records and times unchanged); it never touches
//   guarded state unguarded.
// - Code outside the reader that walks the containers while frames may
//   arrive holds a ScopedDataLock for the walk.
//
// Every operation answers false (or nothing) without a client. Operations
// answer false rather than throw; only the text helpers (QualifiedName, the
// host and port accessors) can let an out-of-memory exception through.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <OrbelDataStreamSDK/Client.h>
#include <fbsdk/fbstring.h>
#include <fbsdk/fbsystem.h>
#include <fbsdk/fbtime.h>
#include <fbsdk/fbtimecode.h>

#include "orbel_platform.h"

class OrbelDataReader;

// One segment of a subject, and the last frame's local pose for it.
struct SegmentRecord {
  FBString subject;
  FBString name;
  double translation[3] = {0, 0, 0};
  double rotation[3] = {0, 0, 0};  // Euler degrees, rotation order XYZ
  FBString parentKey;              // equals the record's own key for a root
  bool root = false;
  // The reader's frame serial (FrameSerial) of the last frame that gave this
  // record its values; 0 while no frame has (a record just described, or
  // restored from a scene). A frame that gives no usable values for it (the
  // subject left the stream, a value is not finite) leaves the values and
  // the serial as they were.
  std::uint64_t sampleSerial = 0;

 private:
  friend class OrbelDataReader;
  // The names as the client library's text, built once rather than on every
  // frame; rebuilt when subject or name no longer match (records may also be
  // made outside the reader, e.g. from a stored scene).
  OrbelDataStreamSDK::CPP::String mClientSubject;
  OrbelDataStreamSDK::CPP::String mClientName;
};

// One labelled or unlabelled marker, and the last frame's global position.
struct MarkerRecord {
  FBString subject;  // "Unlabeled" for an unlabelled marker
  FBString name;     // an unlabelled marker's number in decimal
  double position[3] = {0, 0, 0};
  std::uint64_t sampleSerial = 0;  // as SegmentRecord::sampleSerial

 private:
  friend class OrbelDataReader;
  OrbelDataStreamSDK::CPP::String mClientSubject;
  OrbelDataStreamSDK::CPP::String mClientName;
};

// The reader's source of elapsed time while connecting. Tests replace it to
// drive the retry loop by hand; an empty function means the default
// (monotonic milliseconds, real sleep).
struct OrbelReaderClock {
  std::function<std::int64_t()> nowMs;
  std::function<void(std::uint32_t)> sleepMs;
};

class OrbelDataReader {
 public:
  using Client = OrbelDataStreamSDK::CPP::Client;
  // Keys compare byte by byte (FBString's order), so Unlabeled:10 sorts
  // before Unlabeled:2 and every consumer walks the same order.
  using SegmentMap = std::map<FBString, SegmentRecord>;
  using MarkerMap = std::map<FBString, MarkerRecord>;

  static constexpr std::uint32_t kLockWaitMs = 500;
  static constexpr std::uint32_t kConnectRetryMs = 200;
  // unlabeledMarkerCount above this is read as this. Real stages track a few
  // hundred unlabelled markers; the bound keeps a corrupt setting from asking
  // for billions of records.
  static constexpr int kMaxUnlabeledMarkerCount = 100000;
  static constexpr const char* kUnlabeledSubject = "Unlabeled";

  OrbelDataReader();
  virtual ~OrbelDataReader();
  OrbelDataReader(const OrbelDataReader&) = delete;
  OrbelDataReader& operator=(const OrbelDataReader&) = delete;

  // ---- connection and stream options ----
  void SetServerHost(const FBString& host) { mHostName = host; }
  void SetServerPort(const FBString& port) { mPort = port; }
  FBString ServerHost() const { return mHostName; }
  FBString ServerPort() const { return mPort; }

  // Tries to connect for up to timeoutSeconds, one attempt every
  // kConnectRetryMs; on success applies the wanted data kinds, stream mode 0
  // and the "Y-Up" axis mapping. Blocks the calling thread meanwhile.
  bool ConnectToServer(int timeoutSeconds);
  // True exactly when the client reports success. The connected flag stays.
  bool DisconnectFromServer();

  // Tell the client at once and remember the wish for the next connect.
  bool SetSegmentData(bool wanted);
  bool SetMarkerData(bool wanted);
  bool SetUnlabeledMarkerData(bool wanted);
  // What the client reports, not the stored wish.
  bool SegmentDataEnabled() const;
  bool MarkerDataEnabled() const;
  bool UnlabeledMarkerDataEnabled() const;

  // 0 is "Y-Up", anything else "Z-Up". Not remembered: a connect resets it
  // to "Y-Up".
  bool SetAxisMapping(int choice);

  void SetUseTimecode(bool use) { mUseTimecode.store(use); }
  bool UseTimecode() const { return mUseTimecode.load(); }

  // Answers false, leaving the flag as it was, when the pause lock cannot be
  // had within kLockWaitMs.
  bool SetPaused(bool paused);
  bool Paused() const;

  // Connected, and the client streams exactly the wanted data kinds.
  bool StreamOptionsApplied() const;
  // One GetFrame; true when the client took a new frame.
  bool RequestFrame();

  // ---- scene description ----
  // Replaces the whole description; false (old records kept) when the
  // options are not applied, no frame is available or the data lock cannot
  // be had.
  bool ReadDescription(bool stripCharacterName);
  // Empties every container. Takes no lock: callers hold the data lock or
  // own the reader exclusively.
  void ClearDescription();
  // Changes whenever the containers may have gained, lost or moved records:
  // at every ClearDescription (and so every description read), and at
  // DescriptionChanged, which code that edits the containers itself calls
  // under the data lock. What keeps pointers to records (a walk order built
  // once) compares it before using them. Under the data lock.
  std::uint64_t DescriptionRevision() const { return mDescriptionRevision; }
  void DescriptionChanged() { ++mDescriptionRevision; }
  // The key of a segment or marker name within a subject.
  static FBString QualifiedName(const FBString& name, const FBString& subject,
                                bool stripCharacterName);

  // ---- frames ----
  // Refreshes the records from the client's newest frame; false (records
  // unchanged) when paused, when the options are not applied, when the data
  // lock or the memory for the walk order cannot be had, or when the client
  // holds no frame newer than the last one read (a stalled or silent server gives no sample). time
  // becomes the frame time. A record keeps its values when the frame has none for it (the query
  // fails: its subject left the stream) or when one of them is not finite; both count as occluded
  // for that record, and only records the frame did refresh carry the new FrameSerial.
  bool ReadFrame(FBTime time);
  // Counts the frames read since the reader was made: the serial of the
  // frame the records last came from (0 before the first). Under the data
  // lock, as the records.
  std::uint64_t FrameSerial() const { return mFrameSerial; }
  // Fetches at most one frame per call, and only when more than one fetch
  // interval of host time has passed since the last fetch. On true, time is
  // overwritten with the sample's time on the device's time line; on false it
  // is left alone. A refused fetch (paused, say) re-reads the host's time, so
  // the first sample afterwards is stamped with the time it was taken.
  bool NextFrame(FBTime& time);
  // Restarts the device's time line at time (or at the timecode's time when
  // timecode is used). False, nothing changed, when the data lock cannot be
  // had. With timecode in use but none received yet since the standard was
  // read, the time line starts at the first timecode that arrives: the
  // first sample after it is stamped with that timecode's time.
  bool ResetFrameTime(FBTime time);
  // The time line's origin, once settled (see ResetFrameTime); false while
  // it waits for a first timecode or the data lock cannot be had.
  bool FrameTimeBase(FBTime& base) const;
  // The time of the last sample on the device's time line (the time the
  // last true NextFrame gave). False without the data lock.
  bool LastSampleTime(FBTime& time) const;

  // ---- timecode ----
  // Sets the timecode's rate from the stream's standard; false for a standard
  // the host does not know (the rate is then NTSC_DROP).
  bool ReadTimecodeStandard();
  // Copies the stream's timecode into timecode. Called by ReadFrame under
  // the data lock. A label the rate does not have leaves the last one.
  void UpdateTimecode();
  // Whether a timecode from the stream has been stored since the standard
  // was last read. Under the data lock.
  bool TimecodeReceived() const { return mTimecodeReceived; }

  // Holds the data lock for a scope, waiting at most kLockWaitMs; owns()
  // tells whether it was had. For code outside the reader that walks the
  // records while frames may arrive. The lock is recursive for its holder, so
  // the holder may call the reader's own operations meanwhile.
  class ScopedDataLock {
   public:
    explicit ScopedDataLock(const OrbelDataReader& reader) : mWait(reader.mDataLock, kLockWaitMs) {}
    bool owns() const { return mWait.owns(); }

   private:
    orbel::platform::ScopedWait mWait;
  };

  // ---- seams for tests and for failure paths ----
  // Replaces the connect loop's clock; empty functions restore the default.
  void SetConnectClock(OrbelReaderClock clock);
  // Destroys the client (disconnecting first when connected); every
  // operation then answers false.
  void ReleaseClient();
  bool HasClient() const { return mClient != nullptr; }

 private:
  // The records in key order, for the per-frame walk. Stepping through a
  // map chases one node pointer after another, each a cache miss on a large
  // stage; an array of the same records lets the walk fetch records ahead
  // of the one it reads.
  struct WalkOrder {
    bool built = false;
    std::uint64_t revision = 0;
    // The containers as the order saw them: a container edited without
    // DescriptionChanged (a record added by key, say) still differs in
    // these, so the order is never older than the containers.
    std::size_t sizes[3] = {0, 0, 0};
    const void* ends[6] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    std::vector<SegmentRecord*> segments;
    std::vector<MarkerRecord*> markers;
    std::vector<MarkerRecord*> unlabeledMarkers;
  };

  bool RebuildDescription(bool stripCharacterName);
  std::int64_t NowMs() const;
  void SleepMs(std::uint32_t ms) const;
  // Under the data lock. Null when there is no memory to build it.
  const WalkOrder* CurrentWalkOrder();
  // Starts fetching the records (and, with texts, their names) that the
  // walk reaches a few steps after the one at `at`.
  template <typename Record>
  static void FetchAhead(const std::vector<Record*>& records, std::size_t at, bool texts);
  void ReadSegments(const std::vector<SegmentRecord*>& records);
  void ReadMarkers(const std::vector<MarkerRecord*>& records);
  void ReadUnlabeledMarkers(const std::vector<MarkerRecord*>& records);

  FBString mHostName;
  FBString mPort;
  bool mConnected = false;
  // Atomic: the panel changes the wishes and the use-timecode flag while the
  // input callback reads them.
  std::atomic<bool> mSegmentDataWanted{true};
  std::atomic<bool> mMarkerDataWanted{true};
  std::atomic<bool> mUnlabeledMarkerDataWanted{true};
  // Monotonic milliseconds; 64 bits so that a long-running machine's clock
  // cannot wrap it.
  std::int64_t mConnectStart = 0;
  std::unique_ptr<Client> mClient;
  FBTime mBaseTime;
  FBTime mPollTime;
  FBTime mLastFetchTime;
  FBTime mPreviousFrameTime;
  FBTime mFrameTime;
  // The origin waits for the first timecode (see ResetFrameTime).
  bool mBasePending = false;
  bool mTimecodeReceived = false;
  // The client's number of the frame last read, to recognise a new one.
  bool mHaveFrameNumber = false;
  unsigned int mLastFrameNumber = 0;
  std::uint64_t mFrameSerial = 0;
  std::uint64_t mDescriptionRevision = 0;
  WalkOrder mWalkOrder;
  FBSystem mSystem;
  int mFetchRate = 90;

 public:
  // Number of unlabelled marker records ReadDescription makes; read as 0 when
  // negative and as kMaxUnlabeledMarkerCount above it.
  int unlabeledMarkerCount = 100;

 private:
  std::atomic<bool> mUseTimecode{false};

 public:
  // The stream's last timecode; its rate follows ReadTimecodeStandard.
  FBTimeCode timecode{FBTimeCode::NTSC_DROP};

 private:
  orbel::platform::MutexHandle mPauseLock = nullptr;
  bool mPaused = false;
  orbel::platform::MutexHandle mDataLock = nullptr;

 public:
  std::vector<FBString> subjectNames;  // the server's order
  SegmentMap segments;
  MarkerMap markers;
  MarkerMap unlabeledMarkers;

 private:
  OrbelReaderClock mClock;
};
