#include "fbsdk/fbplayercontrol.h"

#include "scene_state.h"

FBClassImplementation(FBPlayerControl);

FBPlayerControl::FBPlayerControl(HIObject object) : FBComponent(object) {
  IsRecording.SetGetter([] { return fbhost_internal::Transport().recording.load(); });
  IsRecording.SetReadOnly(true);
  IsPlaying.SetGetter([] { return fbhost_internal::Transport().playing.load(); });
  IsPlaying.SetReadOnly(true);
}

FBPlayerControl::~FBPlayerControl() = default;

namespace fbhost_internal {
TransportFlags& Transport() {
  static TransportFlags* flags = new TransportFlags;
  return *flags;
}
}  // namespace fbhost_internal
