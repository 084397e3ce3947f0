// fbplayercontrol.h: FBPlayerControl, the plug-in's view of the host's
// transport, and the transport modes the host tells devices about.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbplayercontrol.cpp).
//
// Like FBSystem, a player control is a view: any number may exist (a device
// holds one) and all show the one transport of the host. Its flags are
// read-only for plug-ins; the host program drives the transport
// (fbhost/engine.h). Any thread may read them.
//
// The two flags, in the order they are declared:
//   IsRecording  true from the moment the user starts a recording until the
//                recording stops; set before any device hears that the
//                transport started, cleared after every device heard that
//                it stopped.
//   IsPlaying    true while the transport runs (playing or recording); set
//                after the devices heard that it started, cleared before
//                they hear that it stopped.
// So a device keys samples only while both are true, and at the start of a
// recording sees IsRecording true with IsPlaying still false.
#pragma once

#include "fbsdk/fbcomponent.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbsdk_api.h"

// What FBDevice::TransportStateNotify reports.
enum FBTransportMode {
  kFBTransportStart = 0,  // the transport starts playing or recording
  kFBTransportStop = 3,   // the transport stops
};

class FBSDK_API FBPlayerControl : public FBComponent {
  FBClassDeclare(FBPlayerControl, FBComponent);

 public:
  explicit FBPlayerControl(HIObject object = nullptr);
  ~FBPlayerControl() override;

  FBPropertyBool IsRecording;  // read-only; see the file comment
  FBPropertyBool IsPlaying;    // read-only; see the file comment
};
