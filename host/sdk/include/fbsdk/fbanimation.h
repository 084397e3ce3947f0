// fbanimation.h: animation nodes (the three-value data channels that a
// device writes and the host carries into models and records into takes),
// key modes, and the evaluation info of one evaluation pass.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbanimation.cpp).
//
// Who makes nodes. A device makes its output nodes with
// FBBox::AnimationNodeOutCreate; the box owns them and deletes them when the
// box itself is destroyed (or at FBBox::AnimationNodeDestroy). Takes make the
// nodes that receive recorded keys (GetAnimationToRecord) and own them. A
// plug-in never deletes a node with FBDelete: removing a node from a
// template's list (RemoveAt, RemoveAll) only unlinks it.
//
// Data. Every node holds three doubles (x, y, z), all zero until first
// written. WriteData and ReadData exchange them whole, under the node's own
// lock, so the evaluation thread may write while the input thread reads.
//
// Names. A node's name is not a label: it is kept whole, ':' included
// ("Bob:Bob_Hips_Translation"), and both Name and LongName answer it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "fbsdk/fbcomponent.h"
#include "fbsdk/fblist.h"
#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbstring.h"
#include "fbsdk/fbtime.h"

using kULongLong = unsigned long long;

class FBBox;
class FBTake;
class FBTakeKeyList;

// How a curve runs from a key to the next one.
enum FBInterpolation {
  kFBInterpolationConstant = 0,  // holds the key's value until the next key
  kFBInterpolationLinear = 1,    // a straight line to the next key
  kFBInterpolationCubic = 2,     // a smooth curve through the keys
};

// How the tangents of a cubic key are chosen.
enum FBTangentMode {
  kFBTangentModeAuto = 0,   // from the neighbouring keys
  kFBTangentModeUser = 1,   // as the user set them
  kFBTangentModeBreak = 2,  // left and right set apart
};

// The data types the host carries into a bound model (see FBBox).
inline constexpr const char* kFBDataTypeTranslation = "Lcl Translation";
inline constexpr const char* kFBDataTypeRotation = "Lcl Rotation";

// One evaluation pass, as the host hands it to NodeEvaluateNotify and a
// device hands it on to WriteData. Made by the host; valid for the call.
class FBSDK_API FBEvaluateInfo {
 public:
  FBEvaluateInfo(FBTime systemTime, FBTime localTime, std::int64_t evaluationId) noexcept
      : mSystemTime(systemTime), mLocalTime(localTime), mEvaluationId(evaluationId) {}
  // The host clock's time when the pass began.
  FBTime GetSystemTime() const noexcept { return mSystemTime; }
  // The transport's time (the take's time line) when the pass began.
  FBTime GetLocalTime() const noexcept { return mLocalTime; }
  // Passes are numbered from 1, in order.
  std::int64_t GetEvaluationId() const noexcept { return mEvaluationId; }

 private:
  FBTime mSystemTime;
  FBTime mLocalTime;
  std::int64_t mEvaluationId;
};

class FBSDK_API FBAnimationNode : public FBComponent {
  FBClassDeclare(FBAnimationNode, FBComponent);

 public:
  // Host side: boxes and takes make nodes (see the file comment).
  FBAnimationNode(const char* name, const char* dataType, kULongLong userId);
  ~FBAnimationNode() override;

  // The user identifier given at creation (a device numbers its nodes).
  kULongLong GetUserId() const noexcept { return mUserId; }
  // The data type text given at creation ("Lcl Translation", ...).
  const FBString& GetDataType() const noexcept { return mDataType; }

  // Writes the node's three values (data[0..2]). A range given at creation
  // clamps each value. info may be null (a write outside an evaluation
  // pass). False, with nothing written, when data is null. Any thread.
  bool WriteData(const double* data, FBEvaluateInfo* info = nullptr);
  // Copies the node's three values into data[0..2]: the last ones written,
  // or zeros. False when data is null. Any thread.
  bool ReadData(double* data, FBEvaluateInfo* info = nullptr) const;
  // Whether any value has been written since the node was made.
  bool IsWritten() const;

  // true: the host buffers the node's samples; false: it keeps only the last
  // value written. This host always keeps only the last value; the choice is
  // recorded and answered by GetBufferType.
  void SetBufferType(bool buffered) noexcept { mBuffered.store(buffered); }
  bool GetBufferType() const noexcept { return mBuffered.load(); }

  // While the host records this node (between the base
  // FBDevice::RecordingInitAnimation and RecordingDoneAnimation for it): the
  // node that receives its keys in the current take, one per bound model and
  // data type ("Bob:Bob_Hips Lcl Translation"). Null when the node is not
  // being recorded or its template has no bound model; the caller then keys
  // the node itself. The answer is owned by its take and stays valid while
  // the take exists. Any thread.
  FBAnimationNode* GetAnimationToRecord() const noexcept { return mRecordTarget.load(); }

  // Adds a key with the three values at the time, to this node's curve in
  // the current layer of the current take (of its own take for a node that
  // a take made). A key already at that exact time is replaced. False, with
  // nothing added, when data is null or there is no current take. Any
  // thread (the input thread keys while the UI thread reads the take).
  bool KeyAdd(FBTime time, const double* data,
              FBInterpolation interpolation = kFBInterpolationCubic,
              FBTangentMode tangentMode = kFBTangentModeAuto);

  // A number unique in the process, never reused: the key of the node's
  // curves in takes.
  std::uint64_t GetSerial() const noexcept { return mSerial; }

  // Host side: clamping range, the flags its box made it with, record
  // target, the take that owns the node.
  void SetRange(const double* minimum, const double* maximum);
  void SetBoxFlags(bool recordable, bool userData) noexcept {
    mRecordable = recordable;
    mUserData = userData;
  }
  bool IsRecordable() const noexcept { return mRecordable; }
  bool IsUserData() const noexcept { return mUserData; }
  void SetRecordTarget(FBAnimationNode* target) noexcept { mRecordTarget.store(target); }
  FBTake* GetOwningTake() const noexcept { return mOwningTake; }
  void SetOwningTake(FBTake* take) noexcept { mOwningTake = take; }

  // Nodes are made with the host's component allocator and freed by their
  // owner (box or take); FBDelete frees them too.
  static void* operator new(std::size_t size);
  static void operator delete(void* memory) noexcept;
  void FBDestroy() override;

 private:
  friend class FBTake;
  static const FBPropertyComponentName::Access kNodeNameAccess;

  // What a key reads of a node, side by side, so that recording, which
  // reaches thousands of nodes a sample, fetches one line of each where it
  // would fetch two or three: the record target (of a device's node), the
  // owning take and the keys' place (of a take's node).
  std::atomic<FBAnimationNode*> mRecordTarget{nullptr};
  FBTake* mOwningTake = nullptr;
  // For a node of a take: its keys in the layer it was last keyed in, so
  // that the next key of that layer goes straight there. The take's lock
  // guards both.
  FBTakeKeyList* mTakeKeys = nullptr;
  int mTakeKeysLayer = -1;
  // For a node of a take: where the device node it records keeps its
  // record target, fetched ahead by the take (never read through: that
  // node may be gone). The take's lock guards it.
  const void* mRecordSourceLine = nullptr;
  const std::uint64_t mSerial;
  const kULongLong mUserId;
  const FBString mNodeName;
  const FBString mDataType;
  std::atomic<bool> mBuffered{true};
  bool mRecordable = true;  // set by the box before the node is shared
  bool mUserData = false;

  // Guards the value below. Held only to copy three doubles, thousands of
  // times a frame on a large stage, so a spin on one atomic costs far less
  // than a mutex's calls into the thread library; a waiter yields its core.
  using ValueLock = fbsdk_detail::ValueLock;
  ValueLock mDataLock;
  double mValue[3] = {0.0, 0.0, 0.0};
  bool mWritten = false;
  bool mHasMinimum = false;
  bool mHasMaximum = false;
  double mMinimum[3] = {0.0, 0.0, 0.0};
  double mMaximum[3] = {0.0, 0.0, 0.0};
};

// A template's animation nodes (see fblist.h for the rules of every list).
class FBSDK_API FBPropertyListAnimationNode : public FBPropertyBasicList {
 public:
  explicit FBPropertyListAnimationNode(FBComponent* owner);
  // Answers the node's index (its old index when already held), -1 for null.
  int Add(FBAnimationNode* node);
  // The node at the index, or null.
  FBAnimationNode* operator[](int index) const;
  FBAnimationNode* GetAt(int index) const { return (*this)[index]; }
  // The node's index, or -1.
  int Find(const FBAnimationNode* node) const;
  // Removes the node; false when the list does not hold it.
  bool Remove(const FBAnimationNode* node);
};
