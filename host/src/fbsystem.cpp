#include "fbsdk/fbsystem.h"

#include "fbhost/clock.h"

FBSystem::FBSystem() {
  SystemTime.SetGetter([] { return fbhost::Now(); });
  SystemTime.SetReadOnly(true);
}

FBSystem::~FBSystem() = default;
