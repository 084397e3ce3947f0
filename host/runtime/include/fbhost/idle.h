// fbhost/idle.h: the host's interface idle tick (FBSystem::OnUIIdle).
//
// Side of the boundary: host runtime. Link fbsdk::runtime.
//
// A host with a window raises the idle event whenever its interface has
// nothing else to do; this host has no event loop of its own, so the host
// program (or a test) raises it: orbel-host after every command and on a
// timer while a panel is open. Panels use it to follow the state of their
// device (enabled flags and the like).
#pragma once

#include "fbsdk/fbsdk_api.h"

namespace fbhost {

// Runs every OnUIIdle handler once, on the calling thread (the UI thread),
// with no host lock held.
FBSDK_API void RaiseUIIdle();

// The number of OnUIIdle handlers currently added, over every FBSystem.
FBSDK_API int UIIdleHandlerCount();

}  // namespace fbhost
