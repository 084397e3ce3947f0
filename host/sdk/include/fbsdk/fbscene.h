// fbscene.h: FBScene, the scene as plug-ins see it: its namespaces.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/scene.cpp).
//
// There is one current scene (FBSystem::Scene answers it); it owns the
// models (fbmodel.h), the takes (fbtake.h) and the devices added to it. Host
// programs reach the rest of it through fbhost/scene.h.
//
// Namespaces. A namespace exists while a model of the scene is labelled in it
// ("Bob:RootNode" is in Bob), and from the moment a model is made in it until
// it is deleted with NamespaceDelete (an emptied namespace stays).
//
// Threads. UI thread (NamespaceExist may be asked from any thread).
#pragma once

#include "fbsdk/fbcomponent.h"
#include "fbsdk/fbsdk_api.h"

class FBSDK_API FBScene : public FBComponent {
  FBClassDeclare(FBScene, FBComponent);

 public:
  // Host side: the host makes the one scene.
  FBScene();
  ~FBScene() override;

  // Whether the namespace exists. False for null or an empty text.
  bool NamespaceExist(const char* name) const;
  // Deletes the namespace and every model labelled in it (FBDelete on each).
  // False when the namespace does not exist (nothing changes).
  bool NamespaceDelete(const char* name);
};
