#include "fbsdk/fbsystem.h"

#include "event_state.h"
#include "fbhost/clock.h"

FBSystem::FBSystem() : OnUIIdle(fbhost_internal::UIIdleCore()) {
  SystemTime.SetGetter([] { return fbhost::Now(); });
  SystemTime.SetReadOnly(true);
}

FBSystem::~FBSystem() = default;
