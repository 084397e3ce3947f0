// event_state.h: the host's shared events.
//
// Private to libfbsdk.
#pragma once

#include <memory>

#include "fbsdk/fbevent.h"

namespace fbhost_internal {

// The handler list behind every FBSystem's OnUIIdle (made on first use,
// never destroyed).
const std::shared_ptr<fbsdk_detail::EventCore>& UIIdleCore();

}  // namespace fbhost_internal
