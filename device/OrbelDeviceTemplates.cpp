// The model template hierarchy: a root template, one template per subject
// below it, and below those the marker and segment templates with their
// animation nodes, built and extended from the reader's description.
#include <algorithm>
#include <vector>

#include "OrbelSimpleDeviceOptical.h"

namespace {

constexpr const char* kRootNodeName = "RootNode";
constexpr const char* kTranslationSuffix = "_Translation";
constexpr const char* kRotationSuffix = "_Rotation";

// The first entry at or after the key, searched onwards from `from` (which
// lies at or before it): the callers' keys come in the map's own order.
template <typename Map>
typename Map::iterator KeyPosition(Map& map, typename Map::iterator from, const FBString& key) {
  while (from != map.end() && from->first < key) ++from;
  return from;
}

}  // namespace

FBString OrbelSimpleDeviceOptical::NamespaceOf(const FBString& text) {
  const int colon = text.Find(':');
  return colon <= 0 ? text : text.Left(colon);
}

FBString OrbelSimpleDeviceOptical::NameAfterNamespace(const FBString& text) {
  const int colon = text.Find(':');
  return colon <= 0 ? text : text.Mid(colon + 1);
}

void OrbelSimpleDeviceOptical::BuildTemplateHierarchy() {
  if (!mReader) return;
  // Held for the whole build: the evaluation thread walks the node maps
  // this fills, and a frame must not arrive into a half-read description.
  OrbelDataReader::ScopedDataLock lock(*mReader);
  if (!lock.owns()) return;
  // A restored device builds from what the scene gave the reader.
  if (!mRestoredFromScene && !mReader->ReadDescription(mStripCharacterName)) return;

  if (mRootTemplate == nullptr) {
    if (mRestoredFromScene && !mModelName.IsEmpty()) {
      mRootTemplate = new FBModelTemplate("", "Orbel", kFBModelTemplateRoot);
      mRootTemplate->SetLabelName(mModelName);
    } else {
      mRootTemplate = new FBModelTemplate("Orbel", "Optical", kFBModelTemplateRoot);
    }
    mRootTemplateIndex = ModelTemplate.Add(mRootTemplate);
  }

  for (const FBString& subject : mReader->subjectNames) {
    FindOrCreateSubjectTemplate(subject, mRootTemplate);
  }

  // The description's maps and the template maps share their key order,
  // so each template map is walked alongside once instead of searched per
  // key, and a new template goes in where the walk stands.
  auto markerAt = mMarkerTemplates.begin();
  for (const auto& entry : mReader->markers) {
    markerAt = KeyPosition(mMarkerTemplates, markerAt, entry.first);
    if (markerAt != mMarkerTemplates.end() && markerAt->first == entry.first) continue;
    FBModelTemplate* marker = CreateMarkerTemplate(entry.first, entry.second);
    markerAt = mMarkerTemplates.emplace_hint(markerAt, entry.first, marker);
    FindOrCreateSubjectTemplate(entry.second.subject, mRootTemplate)->Children.Add(marker);
  }

  if (mStreamUnlabeledMarkers && !mReader->unlabeledMarkers.empty()) {
    FBModelTemplate* unlabeled =
        FindOrCreateSubjectTemplate(OrbelDataReader::kUnlabeledSubject, mRootTemplate);
    markerAt = mMarkerTemplates.begin();
    for (const auto& entry : mReader->unlabeledMarkers) {
      markerAt = KeyPosition(mMarkerTemplates, markerAt, entry.first);
      if (markerAt != mMarkerTemplates.end() && markerAt->first == entry.first) continue;
      FBModelTemplate* marker = CreateMarkerTemplate(entry.first, entry.second);
      markerAt = mMarkerTemplates.emplace_hint(markerAt, entry.first, marker);
      unlabeled->Children.Add(marker);
    }
  }

  auto segmentAt = mSegmentTemplates.begin();
  for (const auto& entry : mReader->segments) {
    segmentAt = KeyPosition(mSegmentTemplates, segmentAt, entry.first);
    if (segmentAt != mSegmentTemplates.end() && segmentAt->first == entry.first) continue;
    segmentAt = mSegmentTemplates.emplace_hint(segmentAt, entry.first,
                                               CreateSegmentTemplate(entry.first, entry.second));
  }

  // Parents are linked in a second pass, over old and new segments alike,
  // so that a parent made later in key order than its child is found.
  segmentAt = mSegmentTemplates.begin();
  for (const auto& entry : mReader->segments) {
    const SegmentRecord& record = entry.second;
    FBModelTemplate* subject = FindOrCreateSubjectTemplate(record.subject, mRootTemplate);
    segmentAt = KeyPosition(mSegmentTemplates, segmentAt, entry.first);
    if (segmentAt == mSegmentTemplates.end() || segmentAt->first != entry.first) {
      segmentAt = mSegmentTemplates.emplace_hint(segmentAt, entry.first, nullptr);
    }
    FBModelTemplate* segment = segmentAt->second;
    if (record.root) {
      if (subject->Children.Find(segment) < 0) subject->Children.Add(segment);
      continue;
    }
    FBModelTemplate* parent = FindKeyTemplate(record.parentKey, true);
    // A parent the description does not have leaves the segment unattached.
    if (parent != nullptr && parent->Children.Find(segment) < 0) parent->Children.Add(segment);
  }
}

FBModelTemplate* OrbelSimpleDeviceOptical::FindOrCreateSubjectTemplate(const FBString& name,
                                                                       FBModelTemplate* parent) {
  const auto found = mSubjectTemplates.find(name);
  if (found != mSubjectTemplates.end()) return found->second;
  auto* subject = new FBModelTemplate(name, kRootNodeName, kFBModelTemplateNull);
  mSubjectTemplates[name] = subject;
  if (parent != nullptr) parent->Children.Add(subject);
  return subject;
}

FBAnimationNode* OrbelSimpleDeviceOptical::CreateNode(const FBString& name, const char* dataType) {
  FBAnimationNode* node = AnimationNodeOutCreate(static_cast<kULongLong>(mNodeCounter), name,
                                                 dataType, true, nullptr, nullptr, false);
  if (node != nullptr) node->SetBufferType(false);
  ++mNodeCounter;
  return node;
}

FBModelTemplate* OrbelSimpleDeviceOptical::CreateSegmentTemplate(const FBString& key,
                                                                 const SegmentRecord& record) {
  auto* segment = new FBModelTemplate(record.subject, key, kFBModelTemplateSkeleton);
  FBAnimationNode* translation = CreateNode(key + kTranslationSuffix, kFBDataTypeTranslation);
  // Made in key order, so mostly at the end of the maps: the hint makes
  // that insertion constant time.
  mTranslationNodes.insert_or_assign(mTranslationNodes.end(), key, translation);
  ++mNodeMapsRevision;
  FBAnimationNode* rotation = CreateNode(key + kRotationSuffix, kFBDataTypeRotation);
  mRotationNodes.insert_or_assign(mRotationNodes.end(), key, rotation);
  segment->AnimationNodes.Add(translation);
  segment->AnimationNodes.Add(rotation);
  return segment;
}

FBModelTemplate* OrbelSimpleDeviceOptical::CreateMarkerTemplate(const FBString& key,
                                                                const MarkerRecord& record) {
  auto* marker = new FBModelTemplate(record.subject, key, kFBModelTemplateMarker);
  FBAnimationNode* node = CreateNode(key, kFBDataTypeTranslation);
  mMarkerNodes.insert_or_assign(mMarkerNodes.end(), key, node);
  ++mNodeMapsRevision;
  marker->AnimationNodes.Add(node);
  return marker;
}

FBModelTemplate* OrbelSimpleDeviceOptical::FindKeyTemplate(const FBString& key,
                                                           bool segment) const {
  const TemplateMap& map = segment ? mSegmentTemplates : mMarkerTemplates;
  const auto found = map.find(key);
  return found == map.end() ? nullptr : found->second;
}

FBModelTemplate* OrbelSimpleDeviceOptical::FindParentTemplate(FBModelTemplate* start,
                                                              FBModelTemplate* target) {
  if (start == nullptr || target == nullptr) return nullptr;
  const int count = start->Children.GetCount();
  for (int i = 0; i < count; ++i) {
    FBModelTemplate* child = start->Children[i];
    if (child == nullptr) continue;
    if (child == target) return start;
    if (FBModelTemplate* found = FindParentTemplate(child, target)) return found;
  }
  return nullptr;
}

namespace {

// Children before their parent, each child list from its last item to its
// first: empties the node list and then the child list of every template
// below `parent`, and collects them.
void DetachBelow(FBModelTemplate* parent, std::vector<FBModelTemplate*>& below) {
  for (int i = parent->Children.GetCount() - 1; i >= 0; --i) {
    FBModelTemplate* child = parent->Children[i];
    if (child == nullptr) continue;
    DetachBelow(child, below);
    child->AnimationNodes.RemoveAll();
    child->Children.RemoveAll();
    // A template held by two lists is still collected once.
    if (std::find(below.begin(), below.end(), child) == below.end()) below.push_back(child);
  }
}

// Erases the entries of the subject's namespace and collects their values.
template <typename Map, typename Value>
void EraseNamespace(Map& map, const FBString& subject, std::vector<Value>& erased) {
  for (auto it = map.begin(); it != map.end();) {
    if (OrbelSimpleDeviceOptical::NamespaceOf(it->first) == subject) {
      erased.push_back(it->second);
      it = map.erase(it);
    } else {
      ++it;
    }
  }
}

template <typename Map>
bool HoldsTemplate(const Map& map, const FBModelTemplate* modelTemplate) {
  for (const auto& entry : map) {
    if (entry.second == modelTemplate) return true;
  }
  return false;
}

}  // namespace

void OrbelSimpleDeviceOptical::RemoveSubjectTemplates(FBModelTemplate* subjectTemplate) {
  if (subjectTemplate == nullptr) return;
  std::unique_ptr<OrbelDataReader::ScopedDataLock> lock;
  if (mReader) {
    lock = std::make_unique<OrbelDataReader::ScopedDataLock>(*mReader);
    // The node writers may be walking the maps this erases from.
    if (!lock->owns()) return;
  }

  if (mRootTemplate != nullptr) {
    const int count = mRootTemplate->Children.GetCount();
    for (int i = 0; i < count; ++i) {
      if (mRootTemplate->Children[i] == subjectTemplate) {
        mRootTemplate->Children.RemoveAt(i);
        break;
      }
    }
  }

  FBString subject;
  bool mapped = false;
  for (auto it = mSubjectTemplates.begin(); it != mSubjectTemplates.end(); ++it) {
    if (it->second == subjectTemplate) {
      subject = it->first;
      mapped = true;
      mSubjectTemplates.erase(it);
      break;
    }
  }

  std::vector<FBModelTemplate*> below;
  DetachBelow(subjectTemplate, below);
  subjectTemplate->AnimationNodes.RemoveAll();
  subjectTemplate->Children.RemoveAll();

  std::vector<FBAnimationNode*> nodes;
  std::vector<FBModelTemplate*> templates;
  if (mapped) {
    ++mNodeMapsRevision;
    EraseNamespace(mTranslationNodes, subject, nodes);
    EraseNamespace(mRotationNodes, subject, nodes);
    EraseNamespace(mMarkerNodes, subject, nodes);
    EraseNamespace(mMarkerTemplates, subject, templates);
    EraseNamespace(mSegmentTemplates, subject, templates);
  }
  // No map and no list reaches these nodes any more, and no writer can
  // reach them while the lock is held.
  for (FBAnimationNode* node : nodes) AnimationNodeDestroy(node);

  // The templates below, and those of the subject that hung nowhere (a
  // segment whose parent was unknown), are out of every list now; those no
  // map holds any more would be reachable from nowhere, so they go with
  // their subject instead of living on until the host exits.
  for (FBModelTemplate* modelTemplate : templates) {
    if (std::find(below.begin(), below.end(), modelTemplate) == below.end()) {
      below.push_back(modelTemplate);
    }
  }
  for (FBModelTemplate* modelTemplate : below) {
    if (modelTemplate != subjectTemplate && !HoldsTemplate(mSegmentTemplates, modelTemplate) &&
        !HoldsTemplate(mMarkerTemplates, modelTemplate) &&
        !HoldsTemplate(mSubjectTemplates, modelTemplate)) {
      modelTemplate->FBDelete();
    }
  }
  subjectTemplate->FBDelete();
}
