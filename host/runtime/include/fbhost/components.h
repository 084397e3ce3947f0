// fbhost/components.h: counts of host components, to check that an operation
// leaves nothing behind.
//
// Side of the boundary: host runtime. Link fbsdk::runtime. Thread-safe; the
// counts are exact when no other thread is creating or destroying components.
#pragma once

#include <cstdint>

#include "fbsdk/fbsdk_api.h"

namespace fbhost {

// Components constructed and not yet destroyed (heap, stack and members).
FBSDK_API std::int64_t LiveComponentCount();
// Blocks handed out by FBComponent::operator new and not yet given back.
FBSDK_API std::int64_t OutstandingComponentAllocations();

}  // namespace fbhost
