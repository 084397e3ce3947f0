// fbhost/registry.h: what plug-ins registered with FBObject_Register, and the
// calls of their factories.
//
// Side of the boundary: host runtime. Link fbsdk::runtime. Thread-safe; a
// factory runs on the caller's thread with no host lock held.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "fbsdk/fbregistry.h"
#include "fbsdk/fbsdk_api.h"

namespace fbhost {

// One FBObject_Register call as recorded.
struct Registration {
  std::string group;
  std::string entry;
  std::string description;
  std::string icon;
  bool flag = false;
  kFBObjectCreatorFnc factory = nullptr;
};

// Every recorded registration, in call order (repeats included).
FBSDK_API std::vector<Registration> Registrations();
// Those of one group, in call order.
FBSDK_API std::vector<Registration> Registrations(const std::string& group);
// How many recorded registrations carry this (group, entry).
FBSDK_API std::size_t RegistrationCount(const std::string& group, const std::string& entry);
// The first registration of (group, entry); false (and *out untouched) when none.
FBSDK_API bool FindRegistration(const std::string& group, const std::string& entry,
                                Registration* out);

// Calls the factory of the first registration of (group, entry) with the
// given arguments, marking nothing. Answers the factory's handle, or null when
// no such registration exists or the factory made nothing.
FBSDK_API HIObject CallFactory(const std::string& group, const std::string& entry, HIObject owner,
                               const char* name, void* data);

}  // namespace fbhost
