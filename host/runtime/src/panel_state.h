// panel_state.h: the host's open panels, for the host's own sources.
//
// Private to libfbsdk.
#pragma once

namespace fbhost_internal {

// Ends the layout of every open panel whose device is gone, taking its
// handlers out of the idle event (fbhost/panel.h).
void DetachOrphanPanels();

}  // namespace fbhost_internal
