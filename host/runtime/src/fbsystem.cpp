#include "fbsdk/fbsystem.h"

#include "event_state.h"
#include "fbhost/clock.h"
#include "fbhost/scene.h"

FBSystem::FBSystem() : OnUIIdle(fbhost_internal::UIIdleCore()) {
  SystemTime.SetGetter([] { return fbhost::Now(); });
  SystemTime.SetReadOnly(true);
  CurrentTake.SetGetter([] { return fbhost::CurrentTake(); });
  CurrentTake.SetReadOnly(true);
  Scene.SetGetter([] { return fbhost::CurrentScene(); });
  Scene.SetReadOnly(true);
}

FBSystem::~FBSystem() = default;
