// Model binding: when the user binds the root template, one scene model is
// found or made for every template and hung into the same hierarchy; and
// the removal of the device's scene models, at shut down or per character.
#include <cstdio>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <fbsdk/fbscene.h>

#include "OrbelSimpleDeviceOptical.h"

namespace {

constexpr const char* kRootNodeLabel = ":RootNode";
constexpr const char* kRootModelLabel = "Orbel";
constexpr const char* kUnlabeledPrefix = "Unlabeled";
constexpr const char* kBoundStatus = "Model bound, good to go.";
// Numbered subject models stop here; the last number is used even if taken.
constexpr int kMaxSubjectModelNumber = 100;
const FBColor kMarkerColor(0.3, 0.9, 1.0);

bool StartsWith(const FBString& text, const FBString& prefix) {
  return text.str().compare(0, prefix.str().size(), prefix.str()) == 0;
}

void StyleMarker(FBModelMarker* marker) {
  marker->Color = kMarkerColor;
  marker->ShadingMode = kFBModelShadingWire;
}

FBModelMarker* AsMarker(FBModel* model) {
  return model != nullptr && model->Is(FBModelMarker::TypeInfo) ? static_cast<FBModelMarker*>(model)
                                                                : nullptr;
}

// Points a device field at a pass's own state for as long as the pass runs.
template <typename T>
class PassPointer {
 public:
  PassPointer(T*& field, T* value) : mField(field) { mField = value; }
  ~PassPointer() { mField = nullptr; }
  PassPointer(const PassPointer&) = delete;
  PassPointer& operator=(const PassPointer&) = delete;

 private:
  T*& mField;
};

// The composed name of a template below a model. Templates come in key
// order, so runs of them share a parent model: its part is made once a run.
class ComposedNames {
 public:
  FBString Below(FBModel* parent, FBModelTemplate* modelTemplate) {
    if (parent != mParent) {
      mParent = parent;
      mPrefix = OrbelSimpleDeviceOptical::NamespaceOf(parent->GetLabelName()) + ":";
    }
    return mPrefix + OrbelSimpleDeviceOptical::NameAfterNamespace(modelTemplate->GetLabelName());
  }

 private:
  FBModel* mParent = nullptr;
  FBString mPrefix;
};

}  // namespace

// The same answer as FindParentTemplate (root, template), found in one walk
// of the same order instead of one walk per template. Valid while no list
// changes.
class OrbelSimpleDeviceOptical::TemplateParents {
 public:
  explicit TemplateParents(FBModelTemplate* root) {
    if (root != nullptr) Walk(root);
  }
  FBModelTemplate* ParentOf(FBModelTemplate* modelTemplate) const {
    const auto found = mParents.find(modelTemplate);
    return found == mParents.end() ? nullptr : found->second;
  }

 private:
  void Walk(FBModelTemplate* parent) {
    const int count = parent->Children.GetCount();
    for (int i = 0; i < count; ++i) {
      FBModelTemplate* child = parent->Children[i];
      if (child == nullptr) continue;
      // The first parent met in the depth-first walk is the one kept.
      mParents.emplace(child, parent);
      Walk(child);
    }
  }
  std::unordered_map<FBModelTemplate*, FBModelTemplate*> mParents;
};

bool OrbelSimpleDeviceOptical::TemplateBindNotify(FBModel* /*model*/, int index,
                                                  FBModelTemplate* modelTemplate) noexcept {
  try {
    // Nothing is bound while the host creates, merges or deletes the device.
    if (GetObjectStatus(kFBStatusCreating) || GetObjectStatus(kFBStatusMerging) ||
        GetObjectStatus(kFBStatusDestroying)) {
      return true;
    }
    if (modelTemplate == nullptr || modelTemplate->Model.Get() == nullptr) return true;

    mRootTemplate = modelTemplate;
    mRootTemplateIndex = index;
    BuildTemplateHierarchy();
    const TemplateParents parents(mRootTemplate);
    const PassPointer<const TemplateParents> parentsInPass(mBindParents, &parents);
    BindSceneModels();

    FBModel* root = modelTemplate->Model;
    if (root != nullptr) {
      for (int i = 0; i < root->Children.GetCount(); ++i) {
        FBModel* subject = root->Children[i];
        if (subject == nullptr) continue;
        for (int j = 0; j < subject->Children.GetCount(); ++j) {
          if (FBModelMarker* marker = AsMarker(subject->Children[j])) StyleMarker(marker);
        }
      }
    }

    ShowSegmentModels(mStreamBones);
    ShowMarkerModels(mStreamMarkers);
    ShowUnlabeledMarkerModels(mStreamUnlabeledMarkers);
    Status = kBoundStatus;
    mModelBound = true;
    if (mFirstBindPending) {
      Live = true;
      mFirstBindPending = false;
    }
  } catch (const std::exception&) {
    // Out of memory part way: what was bound stays bound.
  }
  return true;
}

bool OrbelSimpleDeviceOptical::HoldsBindingRoot(const FBModel* model) const {
  for (const FBPropertyModel& root : mBindingRoots) {
    if (root.Get() == model) return true;
  }
  return false;
}

void OrbelSimpleDeviceOptical::AddBindingRoot(FBModel* model) {
  if (model == nullptr || HoldsBindingRoot(model)) return;
  mBindingRoots.emplace_back();
  mBindingRoots.back() = model;
}

void OrbelSimpleDeviceOptical::BindSceneModels() {
  if (mRootTemplate == nullptr) return;

  // Root model.
  if (mRootTemplate->Model.Get() == nullptr) {
    FBModel* root = nullptr;
    if (mRestoredFromScene && !mModelName.IsEmpty()) root = FBFindModelByLabelName(mModelName);
    if (root == nullptr) root = FBFindModelByLabelName(kRootNodeLabel);
    if (root == nullptr) {
      root = new FBModelRoot(kRootModelLabel);
      AddBindingRoot(root);
    }
    root->Show = true;
    mRootTemplate->Model = root;
  }
  FBModel* const rootModel = mRootTemplate->Model;
  if (rootModel == nullptr) return;

  // Subject models.
  for (const auto& entry : mSubjectTemplates) {
    const FBString& subject = entry.first;
    FBModelTemplate* subjectTemplate = entry.second;
    FBString label = subject + kRootNodeLabel;
    if (FBModel* bound = subjectTemplate->Model) {
      const FBString numbered = subject + " ";
      for (int i = 0; i < rootModel->Children.GetCount(); ++i) {
        FBModel* child = rootModel->Children[i];
        if (child == nullptr) continue;
        const FBString childLabel = child->GetLabelName();
        if (childLabel == label || StartsWith(NamespaceOf(childLabel), numbered)) {
          bound = child;
          break;
        }
      }
      subjectTemplate->Model = bound;
      continue;
    }
    if (FBFindModelByLabelName(label) != nullptr) {
      for (int n = 1; n <= kMaxSubjectModelNumber; ++n) {
        char number[16];
        std::snprintf(number, sizeof number, " %d", n);
        label = subject + number + kRootNodeLabel;
        if (FBFindModelByLabelName(label) == nullptr) break;
      }
    }
    auto* subjectModel = new FBModelNull(label);
    subjectModel->Show = true;
    rootModel->Children.Add(subjectModel);
    AddBindingRoot(rootModel);
    subjectTemplate->Model = subjectModel;
  }

  std::optional<TemplateParents> ownParents;
  if (mBindParents == nullptr) ownParents.emplace(mRootTemplate);
  const TemplateParents& parents = mBindParents != nullptr ? *mBindParents : *ownParents;
  ComposedNames names;

  // Marker models. Each parent's marker children are read once, by label:
  // a scan of the children per marker made the first bind of a large stage
  // quadratic (a thousand unlabelled markers under one root). The first
  // child of a label wins, as the scan in child order found it.
  std::unordered_map<FBModel*, std::unordered_map<std::string, FBModel*>> markersBelow;
  auto markerChildren = [&markersBelow](FBModel * parentModel) -> auto& {
    auto found = markersBelow.find(parentModel);
    if (found != markersBelow.end()) return found->second;
    auto& byLabel = markersBelow[parentModel];
    for (int i = 0; i < parentModel->Children.GetCount(); ++i) {
      FBModel* child = parentModel->Children[i];
      if (AsMarker(child) != nullptr) byLabel.emplace(child->GetLabelName().str(), child);
    }
    return byLabel;
  };
  for (const auto& entry : mMarkerTemplates) {
    FBModelTemplate* markerTemplate = entry.second;
    FBModelTemplate* parent = parents.ParentOf(markerTemplate);
    FBModel* parentModel = parent != nullptr ? parent->Model.Get() : nullptr;
    FBString label;
    FBModel* marker = nullptr;
    if (parentModel != nullptr) {
      label = names.Below(parentModel, markerTemplate);
      const auto& byLabel = markerChildren(parentModel);
      const auto found = byLabel.find(label.str());
      if (found != byLabel.end()) marker = found->second;
    } else {
      label = entry.first;
      marker = FBFindModelByLabelName(label);
    }
    if (marker == nullptr) {
      auto* created = new FBModelMarker(label);
      created->Show = true;
      StyleMarker(created);
      if (parentModel != nullptr) {
        parentModel->Children.Add(created);
        markerChildren(parentModel).emplace(label.str(), created);
      }
      marker = created;
    }
    markerTemplate->Model = marker;
  }

  {
    // Segment models: each is looked for below the model of its nearest
    // subject ancestor when that one is bound, else below its parent's.
    // Reading every label below a subject model for each of its segments
    // made this step most of a large stage's first bind.
    LabelsBelow labelsBelow;
    const PassPointer<LabelsBelow> labelsInStep(mLabelsBelow, &labelsBelow);
    std::unordered_set<const FBModelTemplate*> subjectTemplates;
    for (const auto& entry : mSubjectTemplates) subjectTemplates.insert(entry.second);
    for (const auto& entry : mSegmentTemplates) {
      FBModelTemplate* segmentTemplate = entry.second;
      FBModelTemplate* parent = parents.ParentOf(segmentTemplate);
      FBModelTemplate* chosen = parent;
      for (FBModelTemplate* ancestor = parent; ancestor != nullptr;
           ancestor = parents.ParentOf(ancestor)) {
        if (subjectTemplates.count(ancestor) != 0) {
          chosen = ancestor->Model.Get() != nullptr ? ancestor : parent;
          break;
        }
      }
      // An unattached segment (its parent key named no segment) has no
      // parent to look below: it is looked for, or made, scene-wide.
      FBModel* parentModel = chosen != nullptr ? chosen->Model.Get() : nullptr;
      FBString label;
      FBModel* segment = nullptr;
      if (parentModel != nullptr) {
        label = names.Below(parentModel, segmentTemplate);
        segment = FindModelByLabelBelow(parentModel, label);
      } else {
        label = entry.first;
        segment = FBFindModelByLabelName(label);
      }
      if (segment == nullptr) {
        segment = new FBModelSkeleton(label);
        segment->Show = true;
      }
      segmentTemplate->Model = segment;
    }
  }

  // Segment hierarchy.
  for (const auto& entry : mSegmentTemplates) {
    FBModel* segment = entry.second->Model;
    if (segment == nullptr) continue;
    FBModelTemplate* parent = parents.ParentOf(entry.second);
    FBModel* parentModel = parent != nullptr ? parent->Model.Get() : nullptr;
    if (parentModel != nullptr && parentModel->Children.Find(segment) < 0) {
      parentModel->Children.Add(segment);
    }
  }
}

void OrbelSimpleDeviceOptical::ShowMarkerModelsWhere(bool unlabeled, bool show) {
  std::optional<TemplateParents> ownParents;
  if (mBindParents == nullptr) ownParents.emplace(mRootTemplate);
  const TemplateParents& parents = mBindParents != nullptr ? *mBindParents : *ownParents;
  const FBString prefix(kUnlabeledPrefix);
  for (const auto& entry : mMarkerTemplates) {
    FBModel* marker = entry.second->Model;
    if (marker == nullptr || parents.ParentOf(entry.second) == nullptr) continue;
    if (StartsWith(marker->GetLabelName(), prefix) == unlabeled) marker->Show = show;
  }
}

void OrbelSimpleDeviceOptical::ShowMarkerModels(bool show) { ShowMarkerModelsWhere(false, show); }

void OrbelSimpleDeviceOptical::ShowUnlabeledMarkerModels(bool show) {
  ShowMarkerModelsWhere(true, show);
}

void OrbelSimpleDeviceOptical::RemoveUnusedCharacters() {
  if (!mModelBound || mRootTemplate == nullptr) return;
  FBModel* const rootModel = mRootTemplate->Model;
  if (rootModel == nullptr) return;
  FBScene* const scene = mSystem.Scene;
  const FBString unlabeled(kUnlabeledPrefix);

  for (int i = rootModel->Children.GetCount() - 1; i >= 0; --i) {
    FBModel* child = rootModel->Children[i];
    if (child == nullptr) continue;
    const FBString label = child->GetLabelName();
    if (StartsWith(label, unlabeled)) continue;
    const FBString subject = NamespaceOf(label);
    const auto found = mSubjectTemplates.find(subject);
    if (found == mSubjectTemplates.end()) continue;
    bool streamed = false;
    if (mReader) {
      for (const FBString& name : mReader->subjectNames) {
        if (name == subject) {
          streamed = true;
          break;
        }
      }
    }
    if (streamed) continue;

    FBModelTemplate* subjectTemplate = found->second;
    ClearTemplateModels(subjectTemplate);
    DeleteModelTree(child);
    child->FBDelete();
    RemoveSubjectTemplates(subjectTemplate);
    if (scene != nullptr && scene->NamespaceExist(subject)) scene->NamespaceDelete(subject);
  }
}

void OrbelSimpleDeviceOptical::RemoveCreatedModels() {
  if (mRootTemplate == nullptr) return;
  FBArrayTemplate<FBModel*> listed;
  ModelBindingRootsList(listed);

  std::vector<FBString> namespaces;
  for (FBPropertyModel& reference : mBindingRoots) {
    FBModel* root = reference;
    if (root == nullptr || listed.Find(root) < 0) continue;
    namespaces.push_back(NamespaceOf(root->GetLabelName()));
    for (int i = root->Children.GetCount() - 1; i >= 0; --i) {
      FBModel* child = root->Children[i];
      if (child == nullptr) continue;
      DeleteModelTree(child);
      child->FBDelete();
    }
    root->Children.RemoveAll();
    root->FBDelete();
  }
  mBindingRoots.clear();

  FBScene* const scene = mSystem.Scene;
  for (const FBString& name : namespaces) {
    if (scene != nullptr && scene->NamespaceExist(name)) scene->NamespaceDelete(name);
  }
  listed.Clear();
}

FBModel* OrbelSimpleDeviceOptical::FindModelByLabelBelow(FBModel* model,
                                                         const FBString& labelName) {
  if (model == nullptr) return nullptr;
  if (mLabelsBelow != nullptr) {
    const auto indexed = mLabelsBelow->try_emplace(model);
    auto& byLabel = indexed.first->second;
    if (indexed.second) IndexLabelsBelow(model, byLabel);
    const auto found = byLabel.find(labelName.str());
    return found == byLabel.end() ? nullptr : found->second;
  }
  const int count = model->Children.GetCount();
  for (int i = 0; i < count; ++i) {
    FBModel* child = model->Children[i];
    if (child == nullptr) continue;
    if (child->GetLabelName() == labelName) return child;
    if (FBModel* found = FindModelByLabelBelow(child, labelName)) return found;
  }
  return nullptr;
}

void OrbelSimpleDeviceOptical::IndexLabelsBelow(
    FBModel* model, std::unordered_map<std::string, FBModel*>& byLabel) {
  const int count = model->Children.GetCount();
  for (int i = 0; i < count; ++i) {
    FBModel* child = model->Children[i];
    if (child == nullptr) continue;
    // Visited in the search's order, so the first of a label is its answer.
    byLabel.emplace(child->GetLabelName().str(), child);
    IndexLabelsBelow(child, byLabel);
  }
}

void OrbelSimpleDeviceOptical::DeleteModelTree(FBModel* model) {
  if (model == nullptr) return;
  for (int i = model->Children.GetCount() - 1; i >= 0; --i) {
    FBModel* child = model->Children[i];
    if (child == nullptr) continue;
    DeleteModelTree(child);
    child->FBDelete();
  }
  model->Children.RemoveAll();
}

void OrbelSimpleDeviceOptical::ClearTemplateModels(FBModelTemplate* modelTemplate) {
  if (modelTemplate == nullptr) return;
  for (int i = modelTemplate->Children.GetCount() - 1; i >= 0; --i) {
    ClearTemplateModels(modelTemplate->Children[i]);
  }
  modelTemplate->Model = nullptr;
}
