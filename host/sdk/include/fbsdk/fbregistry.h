// fbregistry.h: class registration with the host, and handle lookup.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbregistry.cpp).
// The host program lists the registrations and calls the factories through
// <fbhost/registry.h>.
#pragma once

#include "fbsdk/fbsdk_api.h"

class FBComponent;

// A factory: the host calls it to create one object of a registered class.
// owner: the object the new one belongs to (may be null); name: the new
// object's name (may be null); data: class-specific (a panel factory gets its
// device's handle). Answers the new object's handle, or null when it made
// none. Called on the host's UI thread; must not throw.
using kFBObjectCreatorFnc = HIObject (*)(HIObject owner, const char* name, void* data);

// Records one registration: the entry `entry` in the host group `group`
// (e.g. "Boxes/Devices", "FbxStorable/Device", "UI_Associated_ClassName"),
// with its description, factory, flag and icon file name. Every call is
// recorded and listed in call order, even one that repeats a (group, entry)
// pair; lookups by (group, entry) use the first. Answers false, recording
// nothing, when group or entry is null or empty or factory is null; answers
// false, after recording the call, when (group, entry) was registered before.
// Null description or icon are recorded as "". Thread-safe.
FBSDK_API bool FBObject_Register(const char* group, const char* entry, const char* description,
                                 kFBObjectCreatorFnc factory, bool flag, const char* icon);

// The live component whose handle this is, or null for a null handle or one
// that names no live component (never made, or already destroyed). The host
// never creates a wrapper, so `autoCreate` has no effect. Thread-safe; the
// answer is valid only while the caller knows the component stays alive.
FBSDK_API FBComponent* FBGetFBObject(HIObject object, bool autoCreate = true);
