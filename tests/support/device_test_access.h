// The device's private state, for the device and panel tests: one
// definition for every test program (the device's class befriends it).
#pragma once

#include <cstddef>
#include <vector>

#include "OrbelSimpleDeviceOptical.h"

struct OrbelSimpleDeviceOpticalTestAccess {
  using Device = OrbelSimpleDeviceOptical;
  static OrbelDataReader* Reader(Device& d) { return d.mReader.get(); }
  static void DropReader(Device& d) { d.mReader.reset(); }
  static void SetStarted(Device& d, bool started) { d.mStarted = started; }
  static const Device::TemplateMap& SubjectTemplates(const Device& d) {
    return d.mSubjectTemplates;
  }
  static const Device::TemplateMap& SegmentTemplates(const Device& d) {
    return d.mSegmentTemplates;
  }
  static const Device::TemplateMap& MarkerTemplates(const Device& d) { return d.mMarkerTemplates; }
  static const Device::NodeMap& TranslationNodes(const Device& d) { return d.mTranslationNodes; }
  static const Device::NodeMap& RotationNodes(const Device& d) { return d.mRotationNodes; }
  static const Device::NodeMap& MarkerNodes(const Device& d) { return d.mMarkerNodes; }
  static FBModelTemplate* RootTemplate(const Device& d) { return d.mRootTemplate; }
  static int RootTemplateIndex(const Device& d) { return d.mRootTemplateIndex; }
  static int NodeCounter(const Device& d) { return d.mNodeCounter; }
  static const FBString& ModelName(const Device& d) { return d.mModelName; }
  static void SetModelName(Device& d, const char* name) { d.mModelName = name; }
  static bool RestoredFromScene(const Device& d) { return d.mRestoredFromScene; }
  static void SetRestoredFromScene(Device& d, bool restored) { d.mRestoredFromScene = restored; }
  static bool ModelBound(const Device& d) { return d.mModelBound.load(); }
  static int ReferenceTimeIndex(const Device& d) { return d.mReferenceTimeIndex.load(); }
  static FBTime SpanStart(const Device& d) { return d.mSpanStart; }
  static FBTime SpanEnd(const Device& d) { return d.mSpanEnd; }
  static bool SpanOpen(const Device& d) { return d.mSpanOpen; }
  static std::vector<FBModel*> BindingRoots(const Device& d) {
    std::vector<FBModel*> roots;
    for (const FBPropertyModel& root : d.mBindingRoots) roots.push_back(root.Get());
    return roots;
  }
  static std::size_t MapEntryCount(const Device& d) {
    return d.mSubjectTemplates.size() + d.mSegmentTemplates.size() + d.mMarkerTemplates.size() +
           d.mTranslationNodes.size() + d.mRotationNodes.size() + d.mMarkerNodes.size();
  }
};
