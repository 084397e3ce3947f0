// OrbelSimpleDeviceOptical: the optical capture device. It owns one stream
// reader and the settings file, offers the capture server's subjects to the
// host as a hierarchy of model templates, finds or creates the scene models
// they bind to, writes live poses into the templates' animation nodes, keys
// them while the host records, and keeps its options in the settings file
// and its connection and description in the saved scene.
//
// Who calls what, on which thread (the host's threads, see fbsdk/fbdevice.h):
//   UI thread:         FBCreate, FBDestroy, DeviceOperation, TemplateBindNotify,
//                      TemplateUnbindNotify, TransportStateNotify,
//                      RecordingInitAnimation, RecordingDoneAnimation, FbxStore,
//                      FbxRetrieve, and every setter, getter and button action
//                      the panel uses.
//   input thread:      SampleInputNotify (and the key writers it calls).
//   evaluation thread: NodeEvaluateNotify (and the node writers it calls).
// The input and evaluation callbacks run at the same time as each other and
// as the UI thread.
//
// Locking. The device has no lock of its own; it borrows the reader's data
// lock, which already guards the reader's records against a frame fetch and
// a description rebuild:
//   - the node writers and the key writers hold it while they walk the
//     reader's records and the device's node maps;
//   - everything that changes the node or template maps (the template
//     builder, the removal of a subject, the teardown) holds it meanwhile.
// Each wait is bounded (OrbelDataReader::kLockWaitMs). A writer that cannot
// have the lock skips this pass; the builder then builds nothing; the
// teardown goes ahead, because by then the host calls no callback of the
// device any more. Animation nodes belong to the device (its FBBox) and live
// until the device is destroyed, so a node pointer taken from a map under
// the lock stays good after the lock is released.
//
// No operation throws; failures are reported through the device's
// Information text and a false answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <fbsdk/fbanimation.h>
#include <fbsdk/fbconfigfile.h>
#include <fbsdk/fbdevice.h>
#include <fbsdk/fbfbxobject.h>
#include <fbsdk/fbmodel.h>
#include <fbsdk/fbmodeltemplate.h>
#include <fbsdk/fbplayercontrol.h>
#include <fbsdk/fbreferencetime.h>
#include <fbsdk/fbstring.h>
#include <fbsdk/fbsystem.h>
#include <fbsdk/fbtime.h>

#include "OrbelDataReader.h"

// Test seam: a test defines this to look at the private state.
struct OrbelSimpleDeviceOpticalTestAccess;

class OrbelSimpleDeviceOptical : public FBDevice {
 public:
  // Texts the device shows. Tests and the panel compare against them.
  static constexpr const char* kSettingsFileName = "@OrbelOpticalDevice.txt";
  static constexpr const char* kSettingsSection = "DataStream";
  static constexpr const char* kReferenceTimeName = "OrbelOpticalTimecode";
  static constexpr const char* kRegisteredClassName = "OrbelDeviceOptical";

  // Keyed by text in byte-wise order, like the reader's maps, so that every
  // walk visits keys in the same order as the reader's.
  using TemplateMap = std::map<FBString, FBModelTemplate*>;
  using NodeMap = std::map<FBString, FBAnimationNode*>;

  // Builds the FBDevice base with the name; creates neither reader nor
  // settings file (FBCreate does).
  explicit OrbelSimpleDeviceOptical(const char* name);
  ~OrbelSimpleDeviceOptical() override;

  // ---- type queries (the type number is taken when the plug-in loads) ----
  const char* ClassName() override;
  int GetTypeId() override;
  bool Is(int typeId) override;

  // ---- creation and destruction ----
  void FBDelete() override;
  // Creates the reader and opens the settings file; always answers true.
  bool FBCreate() override;
  // Frees the settings file and the reader.
  void FBDestroy() override;

  // ---- host operations ----
  // 0 initialise, 1 start, 3 stop, 4 reset, 5 shut down; every other number
  // goes to FBDevice::DeviceOperation.
  bool DeviceOperation(int operation) noexcept override;
  // Clears model bound; answers true.
  bool TemplateUnbindNotify(int index, FBModelTemplate* modelTemplate) noexcept override;

  // ---- live input and node evaluation ----
  void SampleInputNotify(int action, FBDeviceNotifyInfo& info) noexcept override;
  bool NodeEvaluateNotify(FBAnimationNode* node, FBEvaluateInfo* info) noexcept override;
  // With zero set, every node reached gets (0, 0, 0) instead of the sample.
  // info may be null (a write outside an evaluation pass).
  void WriteSegmentNodes(FBEvaluateInfo* info, bool zero);
  void WriteMarkerNodes(FBEvaluateInfo* info, bool zero);
  void WriteUnlabeledMarkerNodes(FBEvaluateInfo* info, bool zero);
  void ShowSegmentModels(bool show);

  // ---- model templates ----
  void BuildTemplateHierarchy();
  FBModelTemplate* FindOrCreateSubjectTemplate(const FBString& name, FBModelTemplate* parent);
  FBModelTemplate* CreateSegmentTemplate(const FBString& key, const SegmentRecord& record);
  FBModelTemplate* CreateMarkerTemplate(const FBString& key, const MarkerRecord& record);
  FBModelTemplate* FindKeyTemplate(const FBString& key, bool segment) const;
  static FBModelTemplate* FindParentTemplate(FBModelTemplate* start, FBModelTemplate* target);
  void RemoveSubjectTemplates(FBModelTemplate* subjectTemplate);
  // The text before / after the first ':'; a text without ':' or starting
  // with ':' is answered whole.
  static FBString NamespaceOf(const FBString& text);
  static FBString NameAfterNamespace(const FBString& text);

  // ---- model binding and scene models ----
  bool TemplateBindNotify(FBModel* model, int index,
                          FBModelTemplate* modelTemplate) noexcept override;
  void BindSceneModels();
  void ShowMarkerModels(bool show);
  void ShowUnlabeledMarkerModels(bool show);
  // The panel's "Remove Unused Characters".
  void RemoveUnusedCharacters();
  void RemoveCreatedModels();
  FBModel* FindModelByLabelBelow(FBModel* model, const FBString& labelName);
  static void DeleteModelTree(FBModel* model);
  static void ClearTemplateModels(FBModelTemplate* modelTemplate);

  // ---- recording ----
  void TransportStateNotify(FBTransportMode mode, FBTime time) noexcept override;
  void RecordingInitAnimation(FBAnimationNode* node) noexcept override;
  void RecordingDoneAnimation(FBAnimationNode* node) noexcept override;
  void RecordSegmentKeys(FBTime time);
  void RecordMarkerKeys(FBTime time, FBDeviceNotifyInfo& info);

  // ---- options (the panel changes them only through these) ----
  // Each setter carries one option to the reader, the device and the
  // settings file. Without a reader every setter but SetStripCharacterName
  // does nothing and every text getter answers "".
  void SetHostAddress(const char* address);
  void SetHostPort(const char* port);
  void SetAxisMapping(int axisMapping);
  void SetStreamBones(bool stream);
  void SetStreamMarkers(bool stream);
  void SetStreamUnlabeledMarkers(bool stream);
  void SetUnlabeledMarkerCount(int count);
  void SetUseTimecode(bool use);
  void SetStripCharacterName(bool strip);
  // Not kept in the settings file.
  void SetPaused(bool paused);

  FBString HostAddress() const;
  FBString HostPort() const;
  // The count in decimal, in the device's own buffer (overwritten at each
  // call); "" without a reader.
  const char* UnlabeledMarkerCountText();
  // 0 is "Y-Up", 1 is "Z-Up".
  int AxisMapping() const { return mAxisMapping.load(); }
  bool StreamBones() const { return mStreamBones.load(); }
  bool StreamMarkers() const { return mStreamMarkers.load(); }
  bool StreamUnlabeledMarkers() const { return mStreamUnlabeledMarkers.load(); }
  bool StripCharacterName() const { return mStripCharacterName.load(); }
  bool UseTimecode() const { return mUseTimecode.load(); }
  bool Paused() const { return mPaused.load(); }
  // True after a successful start, until the next initialise.
  bool Started() const { return mStarted.load(); }

  // Reads every key of the settings file and applies it through the
  // setters; the server address and port only when withAddress is set.
  void LoadSettings(bool withAddress);

  // ---- scene storage ----
  bool FbxStore(FBFbxObject* fbxObject, kFbxObjectStore phase) noexcept override;
  bool FbxRetrieve(FBFbxObject* fbxObject, kFbxObjectStore phase) noexcept override;
  void StoreBones(FBFbxObject* fbxObject);
  void StoreMarkers(FBFbxObject* fbxObject);
  void RetrieveBones(FBFbxObject* fbxObject);
  void RetrieveMarkers(FBFbxObject* fbxObject);

 private:
  friend struct OrbelSimpleDeviceOpticalTestAccess;

  // The five operations and the steps they share.
  void Prepare();
  bool Initialize();
  bool Start();
  bool Stop();
  bool ShutDown();
  // The start's frame request, repeated for a moment while no frame came.
  bool RequestFirstFrame();
  // Nothing happens without a root template.
  void TeardownTemplates(bool removeRoot);
  // Adds an output node for a template, numbered from the node counter.
  FBAnimationNode* CreateNode(const FBString& name, const char* dataType);
  // The marker models' walk shared by the two show steps.
  void ShowMarkerModelsWhere(bool unlabeled, bool show);
  void AddBindingRoot(FBModel* model);
  bool HoldsBindingRoot(const FBModel* model) const;
  // Writes one setting; the answer of the file is not needed.
  void WriteSetting(const char* key, const char* value);
  // The reader's timecode, copied under its data lock (the input thread
  // refreshes it).
  bool ReaderTimecodeTime(FBTime& time) const;
  // Recording is wanted for this sample.
  bool KeysWanted();
  // The recorded span's end for a timecode read at the stop: never before
  // the start, unwrapped past midnight.
  FBTime SpanEndAfter(FBTime start, FBTime timecodeEnd) const;

  // The records that have nodes, each with its nodes, in key order. The
  // per-sample passes walk these arrays rather than pairing the ordered
  // maps again on every sample: a walk of the maps chases their scattered
  // tree nodes and compares keys, and between samples little of that stays
  // in the cache. Rebuilt at the first pass after the description or the
  // node maps changed.
  struct BoundSegment {
    const SegmentRecord* record;
    FBAnimationNode* translation;  // null when only the rotation has a node
    FBAnimationNode* rotation;
  };
  struct BoundMarker {
    const MarkerRecord* record;
    FBAnimationNode* node;
  };
  struct BoundOrder {
    std::vector<BoundSegment> segments;
    std::vector<BoundMarker> markers;
    std::vector<BoundMarker> unlabeledMarkers;
    bool built = false;
    std::uint64_t description = 0;  // the reader's revision it was built from
    std::uint64_t nodeMaps = 0;     // mNodeMapsRevision it was built from
  };
  // The order, rebuilt first when out of date. The caller holds the data
  // lock, which also guards the order, and keeps it while using the answer.
  const BoundOrder& BoundRecords();

  // Which template's child list holds each template below the root, read
  // in one walk. A bind pass reads it once, after the hierarchy is built:
  // the pass changes no template list after that.
  class TemplateParents;
  // Each model's descendants by label name, the first of a label in the
  // depth-first order kept: what FindModelByLabelBelow answers, read with
  // one walk per model instead of one per question. Only the binding's
  // segment step keeps one (it hangs no model anywhere, so no child list
  // changes while it is in use).
  using LabelsBelow = std::unordered_map<const FBModel*, std::unordered_map<std::string, FBModel*>>;
  static void IndexLabelsBelow(FBModel* model, std::unordered_map<std::string, FBModel*>& byLabel);

  // ---- fields, in the device's declared order ----
  std::unique_ptr<OrbelDataReader> mReader;
  std::atomic<bool> mStarted{false};
  TemplateMap mSubjectTemplates;
  TemplateMap mSegmentTemplates;
  TemplateMap mMarkerTemplates;
  NodeMap mTranslationNodes;
  NodeMap mRotationNodes;
  NodeMap mMarkerNodes;
  // Counts the changes to the three node maps, made under the data lock
  // when there is a reader.
  std::uint64_t mNodeMapsRevision = 0;
  BoundOrder mBoundOrder;
  FBModelTemplate* mRootTemplate = nullptr;
  int mRootTemplateIndex = -1;
  int mNodeCounter = 0;
  FBString mModelName;
  // Settings. Atomic where the input or evaluation thread reads what the
  // UI thread sets.
  std::atomic<bool> mStreamBones{false};
  std::atomic<bool> mStreamMarkers{false};
  std::atomic<bool> mStreamUnlabeledMarkers{false};
  char mUnlabeledMarkerCountText[20] = {};
  std::atomic<int> mAxisMapping{0};
  std::atomic<bool> mStripCharacterName{false};
  std::atomic<bool> mPaused{false};
  std::atomic<bool> mUseTimecode{false};
  std::atomic<int> mReferenceTimeIndex{-1};
  FBReferenceTime mReferenceTime;
  // Model references read null once their model is deleted, so a root the
  // user deleted is never mistaken for a live one.
  std::list<FBPropertyModel> mBindingRoots;
  // Set only while the bind pass (or its segment step) that owns them runs.
  const TemplateParents* mBindParents = nullptr;
  LabelsBelow* mLabelsBelow = nullptr;
  FBPlayerControl mPlayerControl;
  FBSystem mSystem;
  std::unique_ptr<FBConfigFile> mSettingsFile;
  bool mRestoredFromScene = false;
  std::atomic<bool> mModelBound{false};
  FBString mVersionText;
  FBTime mSpanStart;
  FBTime mSpanEnd;
  bool mSpanOpen = false;
  // The span's start waits for the first timecode of the recording.
  bool mSpanStartPending = false;
  bool mFirstBindPending = false;
};
