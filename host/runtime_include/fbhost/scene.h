// fbhost/scene.h: the host program's view of the scene: its models,
// namespaces, takes and reference times, and the reset that empties it.
//
// Side of the boundary: host runtime. Link fbsdk::runtime.
//
// Threads: the UI thread (the host program's command loop, or a test),
// except where a function says otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fbsdk/fbmodel.h"
#include "fbsdk/fbscene.h"
#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbtake.h"
#include "fbsdk/fbtime.h"

namespace fbhost {

// The one scene (made at the first call; never destroyed).
FBSDK_API FBScene* CurrentScene();

// Empties the scene: stops the engine threads (fbhost/engine.h) and the
// transport, removes every device (Online off, shut down, FBDelete),
// deletes every model and take, empties the namespaces and the reference
// times, and makes one fresh take "Take 001" current. Afterwards the scene
// holds nothing a test made, so component counts can be compared.
FBSDK_API void ResetScene();

// The scene's models, in the order they were made. Any thread; the pointers
// are good until the UI thread deletes them.
FBSDK_API std::vector<FBModel*> SceneModels();
// The scene's namespaces, sorted.
FBSDK_API std::vector<std::string> SceneNamespaces();

// Makes a take (it does not become current) and answers it.
FBSDK_API FBTake* CreateTake(const std::string& name);
// Makes a take of the scene current; false (nothing changes) for another.
FBSDK_API bool SetCurrentTake(FBTake* take);
// The current take (never null after the first CurrentScene()). Any thread.
FBSDK_API FBTake* CurrentTake();
FBSDK_API std::vector<FBTake*> Takes();
// A number that changes whenever a take is made or replaced or one of the
// scene's takes changes (FBTake::GetRevision); a host program compares it
// with the one at its last save to know whether takes would be lost. Any
// thread.
FBSDK_API std::uint64_t TakesRevision();

// One entry of the host's reference-time table.
struct ReferenceTimeRecord {
  int index = -1;
  std::string name;
  bool removed = false;
  std::int64_t stampCount = 0;
  FBTime lastReferenceTime;  // of the last stamp
  FBTime lastSystemTime;
};
// Every entry ever added since the last ResetScene, by number. Any thread.
FBSDK_API std::vector<ReferenceTimeRecord> ReferenceTimes();
// How many SetTime calls were refused (a number naming no entry, or a
// removed one) since the last ResetScene. Any thread.
FBSDK_API std::int64_t RefusedReferenceTimeStamps();

}  // namespace fbhost
