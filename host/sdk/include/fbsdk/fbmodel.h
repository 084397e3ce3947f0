// fbmodel.h: scene models (FBModel and its kinds), model references, child
// lists, and the scene-wide lookup by label name.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbmodel.cpp).
//
// Ownership. A model belongs to the current scene from its construction: the
// scene lists it, FBFindModelByLabelName finds it, and the scene deletes it
// when the scene is reset. A model made with `new` (the host's component
// allocator) is freed by FBDelete whether or not its maker set mAllocated;
// a model made on the stack or as a member only leaves the scene at
// FBDelete and is destroyed by its owner.
//
// Leaving the scene. FBDelete (or destruction) takes the model out of
// everything that refers to it, at once and under the scene lock: the
// scene's list, its parent's child list, every template bound to it and
// every model reference (FBPropertyModel) to it, which then read null. Its
// children stay in the scene, without a parent.
//
// Label names. A model is made with its label name ("Bob:RootNode" is name
// RootNode in namespace Bob); the namespace joins the scene's namespaces
// (FBScene::NamespaceExist).
//
// Threads. Models are made, parented and deleted on the UI thread. Their
// properties may be read from any thread; the host's evaluation thread
// writes Translation and Rotation of bound models.
#pragma once

#include <cstddef>

#include "fbsdk/fbcomponent.h"
#include "fbsdk/fblist.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbvector.h"

class FBModel;

// How the host draws a model.
enum FBModelShadingMode {
  kFBModelShadingDefault = 0,  // as the scene's display setting says
  kFBModelShadingWire = 1,     // wire frame
  kFBModelShadingFlat = 2,     // flat colour
  kFBModelShadingLighted = 3,  // lit surfaces
};

using FBPropertyVector3d = FBPropertyBase<FBVector3<double>>;
using FBPropertyColor = FBPropertyBase<FBColor>;
using FBPropertyShadingMode = FBPropertyBase<FBModelShadingMode>;

// A reference to a model, as a template's bound model or a device's
// model-binding root. Reads null once the model is deleted. Assigning takes
// the scene lock; reading takes only the property's own lock. Any thread.
class FBSDK_API FBPropertyModel : public FBPropertyBase<FBModel*> {
 public:
  FBPropertyModel();
  ~FBPropertyModel();
  using FBPropertyBase<FBModel*>::operator=;

 private:
  static const Access kAccess;
  bool Refer(FBModel* model);
};

// A model's children (see fblist.h for the rules of every list). A model has
// at most one parent: adding it here takes it out of its former parent's
// list. Adding the list's own model or one of its ancestors is refused (-1).
class FBSDK_API FBPropertyListModel : public FBPropertyBasicList {
 public:
  explicit FBPropertyListModel(FBModel* owner);
  int Add(FBModel* model);
  FBModel* operator[](int index) const;
  FBModel* GetAt(int index) const { return (*this)[index]; }
  int Find(const FBModel* model) const;
  bool Remove(const FBModel* model);
};

class FBSDK_API FBModel : public FBComponent {
  FBClassDeclare(FBModel, FBComponent);

 public:
  explicit FBModel(const char* labelName, HIObject object = nullptr);
  ~FBModel() override;

  // Leaves the scene (see the file comment). Derived classes that override
  // it call it.
  void FBDestroy() override;

  // The model whose child list holds this one, or null. The answer is valid
  // on the UI thread until that thread deletes the parent.
  FBModel* GetParent() const;

  FBPropertyListModel Children;
  // Whether the model is drawn. Models start hidden.
  FBPropertyBool Show;
  // Local translation (host length units) and local rotation (Euler
  // degrees, X then Y then Z), relative to the parent.
  FBPropertyVector3d Translation;
  FBPropertyVector3d Rotation;
  FBPropertyShadingMode ShadingMode;

  static void* operator new(std::size_t size);
  static void operator delete(void* memory) noexcept;

 private:
  void LeaveScene();
};

// The model a device's hierarchy hangs below.
class FBSDK_API FBModelRoot : public FBModel {
  FBClassDeclare(FBModelRoot, FBModel);

 public:
  explicit FBModelRoot(const char* labelName, HIObject object = nullptr);
};

// A model with no geometry: a group or a character's root.
class FBSDK_API FBModelNull : public FBModel {
  FBClassDeclare(FBModelNull, FBModel);

 public:
  explicit FBModelNull(const char* labelName, HIObject object = nullptr);
};

// One bone of a skeleton.
class FBSDK_API FBModelSkeleton : public FBModel {
  FBClassDeclare(FBModelSkeleton, FBModel);

 public:
  explicit FBModelSkeleton(const char* labelName, HIObject object = nullptr);
};

// An optical marker.
class FBSDK_API FBModelMarker : public FBModel {
  FBClassDeclare(FBModelMarker, FBModel);

 public:
  explicit FBModelMarker(const char* labelName, HIObject object = nullptr);
  // The marker's colour; white until set.
  FBPropertyColor Color;
};

// The first model of the current scene, in the order the models were made,
// whose label name equals the text exactly; null when none does or the text
// is null. Any thread; see the file comment for how long the answer lives.
FBSDK_API FBModel* FBFindModelByLabelName(const char* labelName);
