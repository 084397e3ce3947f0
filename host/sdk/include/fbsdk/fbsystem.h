// fbsystem.h: FBSystem, the plug-in's view of the host as a whole.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbsystem.cpp).
//
// An FBSystem is a light view: any number may exist (a device and its reader
// each hold one), all showing the same host state. It is not a component and
// is not counted as one. Its properties may be read from any host thread.
//
// SystemTime: the host's current time, read-only. It comes from the host's
// clock, which the host program may replace (fbhost/clock.h); the default is
// a monotonic clock that reads zero when the host started. It advances with
// real time whatever the transport does.
//
// CurrentTake and Scene: the scene's current take (fbtake.h) and the one
// scene (fbscene.h), read-only. Both live until the host program resets the
// scene, so a pointer read on any thread stays valid while host threads run.
#pragma once

#include "fbsdk/fbevent.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbtime.h"

class FBScene;
class FBTake;

class FBSDK_API FBSystem {
 public:
  FBSystem();
  FBSystem(const FBSystem&) = delete;
  FBSystem& operator=(const FBSystem&) = delete;
  ~FBSystem();

  FBPropertyTime SystemTime;  // read-only; the host clock's current time

  // The interface idle event: raised on the UI thread whenever the host's
  // interface is idle (fbhost/idle.h). Every FBSystem shows the same one
  // event, so a handler added through one FBSystem is removed through any.
  FBPropertyEvent OnUIIdle;

  FBPropertyBase<FBTake*> CurrentTake;  // read-only
  FBPropertyBase<FBScene*> Scene;       // read-only
};
