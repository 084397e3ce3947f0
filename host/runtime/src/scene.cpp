#include "fbsdk/fbscene.h"

#include <algorithm>
#include <functional>

#include "fbhost/devices.h"
#include "fbhost/engine.h"
#include "fbhost/scene.h"
#include "scene_state.h"

namespace fbhost_internal {

std::recursive_mutex& SceneLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;
  return *lock;
}

namespace {

FBTake* MakeTake(const std::string& name) {
  auto* take = new FBTake(name.c_str());
  take->mAllocated = true;
  return take;
}

}  // namespace

SceneState& Scene() {
  static SceneState* state = [] {
    auto* made = new SceneState;
    made->scene = new FBScene;
    made->scene->mAllocated = true;
    FBTake* take = MakeTake("Take 001");
    made->takes.push_back(take);
    made->currentTake.store(take);
    return made;
  }();
  return *state;
}

namespace {
struct Block {
  std::uintptr_t begin = 0;
  std::size_t size = 0;
};
thread_local Block tLastBlock;
}  // namespace

void NoteComponentBlock(void* block, std::size_t size) noexcept {
  tLastBlock.begin = reinterpret_cast<std::uintptr_t>(block);
  tLastBlock.size = size;
}

bool ClaimComponentBlock(const void* object) noexcept {
  const auto at = reinterpret_cast<std::uintptr_t>(object);
  const bool inside =
      tLastBlock.size != 0 && at >= tLastBlock.begin && at < tLastBlock.begin + tLastBlock.size;
  if (inside) tLastBlock = Block();
  return inside;
}

void ReplaceTakes(std::vector<FBTake*> takes, FBTake* current) {
  if (takes.empty()) return;
  std::vector<FBTake*> oldTakes;
  {
    std::lock_guard<std::recursive_mutex> lock(SceneLock());
    auto& scene = Scene();
    for (const FBTake* take : scene.takes) scene.takesRevisionBase += take->GetRevision();
    ++scene.takesRevisionBase;
    oldTakes.swap(scene.takes);
    scene.takes = std::move(takes);
    scene.currentTake.store(current != nullptr ? current : scene.takes.front());
  }
  for (FBTake* take : oldTakes) take->FBDelete();
}

const char* ModelKind(FBModel* model) {
  if (model->Is(FBModelMarker::TypeInfo)) return "Marker";
  if (model->Is(FBModelSkeleton::TypeInfo)) return "Skeleton";
  if (model->Is(FBModelNull::TypeInfo)) return "Null";
  if (model->Is(FBModelRoot::TypeInfo)) return "Root";
  return "Model";
}

}  // namespace fbhost_internal

using fbhost_internal::Scene;
using fbhost_internal::SceneLock;

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;

bool NamespaceExistLocked(const std::string& name) {
  auto& scene = Scene();
  if (scene.namespaces.count(name) != 0) return true;
  return std::any_of(scene.models.begin(), scene.models.end(),
                     [&name](const FBModel* m) { return m->GetNamespace() == name.c_str(); });
}
}  // namespace

// ---- FBScene ----

FBClassImplementation(FBScene);

FBScene::FBScene() : FBComponent(static_cast<HIObject>(nullptr)) { SetLabelName("Scene"); }

FBScene::~FBScene() = default;

bool FBScene::NamespaceExist(const char* name) const {
  if (name == nullptr || *name == '\0') return false;
  Guard lock(SceneLock());
  return NamespaceExistLocked(name);
}

bool FBScene::NamespaceDelete(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  Guard lock(SceneLock());
  if (!NamespaceExistLocked(name)) return false;
  auto& scene = Scene();
  scene.namespaces.erase(name);
  std::vector<FBModel*> doomed;
  for (FBModel* model : scene.models) {
    if (model->GetNamespace() == name) doomed.push_back(model);
  }
  for (FBModel* model : doomed) {
    // An earlier deletion cannot end a later model (children survive their
    // parent), but stay safe if one ever did.
    if (scene.liveModels.count(model) != 0) model->FBDelete();
  }
  return true;
}

// ---- host runtime ----

namespace fbhost {

FBScene* CurrentScene() { return Scene().scene; }

std::vector<FBModel*> SceneModels() {
  Guard lock(SceneLock());
  return Scene().models;
}

std::vector<std::string> SceneNamespaces() {
  Guard lock(SceneLock());
  std::set<std::string> names = Scene().namespaces;
  for (const FBModel* model : Scene().models) {
    const std::string ns = model->GetNamespace().str();
    if (!ns.empty()) names.insert(ns);
  }
  return std::vector<std::string>(names.begin(), names.end());
}

FBTake* CreateTake(const std::string& name) {
  FBTake* take = fbhost_internal::MakeTake(name);
  Guard lock(SceneLock());
  Scene().takes.push_back(take);
  ++Scene().takesRevisionBase;
  return take;
}

std::uint64_t TakesRevision() {
  Guard lock(SceneLock());
  std::uint64_t revision = Scene().takesRevisionBase;
  for (const FBTake* take : Scene().takes) revision += take->GetRevision();
  return revision;
}

bool SetCurrentTake(FBTake* take) {
  Guard lock(SceneLock());
  auto& takes = Scene().takes;
  if (std::find(takes.begin(), takes.end(), take) == takes.end()) return false;
  Scene().currentTake.store(take);
  return true;
}

FBTake* CurrentTake() { return Scene().currentTake.load(); }

std::vector<FBTake*> Takes() {
  Guard lock(SceneLock());
  return Scene().takes;
}

void ResetScene() {
  StopEngine();
  fbhost_internal::StopTransportForReset();
  for (FBDevice* device : Devices()) RemoveDevice(device);

  // Models: FBDelete frees the ones made with new; the others only leave.
  for (;;) {
    std::vector<FBModel*> models = SceneModels();
    if (models.empty()) break;
    for (FBModel* model : models) {
      Guard lock(SceneLock());
      if (Scene().liveModels.count(model) != 0) model->FBDelete();
    }
  }

  {
    Guard lock(SceneLock());
    Scene().namespaces.clear();
  }
  fbhost_internal::ReplaceTakes({fbhost_internal::MakeTake("Take 001")}, nullptr);
  fbhost_internal::ResetReferenceTimes();
  TransportSetTime(FBTime::Zero);
}

}  // namespace fbhost
