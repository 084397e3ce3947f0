// fbmodeltemplate.h: model templates: the hierarchy a device offers for
// binding to scene models, and the animation nodes each one carries.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbmodeltemplate.cpp).
//
// A device builds its templates with `new FBModelTemplate(...)` (the host's
// component allocator), keeps the top one in its model-template list
// (FBDevice::ModelTemplate), hangs the others in child lists, and ends each
// with FBDelete, which frees it whether or not mAllocated was set. A
// template that is deleted leaves every list that holds it; its own child
// and node lists let go of their items (children and nodes live on).
//
// Binding. The user binds a template to a scene model (fbhost/devices.h);
// the host then sets the template's Model and calls the device's
// TemplateBindNotify. A device sets Model itself for the templates below.
// During each evaluation pass the host carries the values of every template's
// animation nodes into its bound model: a node of data type "Lcl
// Translation" into the model's Translation, "Lcl Rotation" into its
// Rotation. Nodes never written are not carried.
//
// Label name. A template is labelled with the name it is made with, so
// "Bob:Bob_Hips" has namespace Bob and name Bob_Hips.
//
// Threads. Templates are made, linked and deleted on the UI thread; the
// host's evaluation thread walks them under the scene lock.
#pragma once

#include <cstddef>

#include "fbsdk/fbanimation.h"
#include "fbsdk/fbcomponent.h"
#include "fbsdk/fblist.h"
#include "fbsdk/fbmodel.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbsdk_api.h"

class FBModelTemplate;

// What a template stands for; a bind to a new model (fbhost/devices.h) makes
// a model of the matching class.
enum FBModelTemplateStyle {
  kFBModelTemplateDefault = 0,   // anything (bound to a new FBModelNull)
  kFBModelTemplateNull = 1,      // a group: FBModelNull
  kFBModelTemplateMarker = 2,    // FBModelMarker
  kFBModelTemplateRoot = 3,      // a device's top: FBModelRoot
  kFBModelTemplateSkeleton = 5,  // FBModelSkeleton
};

using FBPropertyModelTemplateStyle = FBPropertyBase<FBModelTemplateStyle>;

// A template's children, or a device's top-level templates (see fblist.h).
// Adding a template to its own list or to the list of one of its
// descendants is refused (-1).
class FBSDK_API FBPropertyListModelTemplate : public FBPropertyBasicList {
 public:
  explicit FBPropertyListModelTemplate(FBModelTemplate* owner);
  // Host side: a device's list of top-level templates.
  explicit FBPropertyListModelTemplate(FBComponent* deviceOwner, bool topLevel);
  int Add(FBModelTemplate* modelTemplate);
  FBModelTemplate* operator[](int index) const;
  FBModelTemplate* GetAt(int index) const { return (*this)[index]; }
  int Find(const FBModelTemplate* modelTemplate) const;
  bool Remove(const FBModelTemplate* modelTemplate);
};

class FBSDK_API FBModelTemplate : public FBComponent {
  FBClassDeclare(FBModelTemplate, FBComponent);

 public:
  // prefix and name may be null (empty). The label name is `name`.
  FBModelTemplate(const char* prefix, const char* name, FBModelTemplateStyle style);
  ~FBModelTemplate() override;

  // Leaves every list (see the file comment).
  void FBDestroy() override;

  FBPropertyString Prefix;
  FBPropertyModelTemplateStyle Style;
  FBPropertyListModelTemplate Children;
  FBPropertyListAnimationNode AnimationNodes;
  // The bound model; null when unbound (also after the model is deleted).
  FBPropertyModel Model;

  static void* operator new(std::size_t size);
  static void operator delete(void* memory) noexcept;

 private:
  void Unlink();
};
