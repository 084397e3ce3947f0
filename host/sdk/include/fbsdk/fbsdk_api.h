// fbsdk_api.h: the export macro and the basic handle types of the host SDK.
//
// Side of the boundary: SDK (seen by plug-ins and by the host).
//
// Every declaration that libfbsdk.so exports carries FBSDK_API; everything
// else in the library is hidden (the project builds with hidden visibility by
// default). Plug-ins include <fbsdk/fbsdk.h> and link fbsdk::fbsdk only.
#pragma once

#if defined(_WIN32)
#if defined(FBSDK_BUILDING)
#define FBSDK_API __declspec(dllexport)
#else
#define FBSDK_API __declspec(dllimport)
#endif
#else
#define FBSDK_API __attribute__((visibility("default")))
#endif

// An opaque handle for a host object, as the host hands it to factories and
// answers it from FBComponent::GetHIObject. In this host a handle names exactly
// one live FBComponent; FBGetFBObject (fbregistry.h) maps it back. A null
// handle means "no object".
using HIObject = void*;

// The SDK's 64-bit integer, as the real SDK spells it.
using kLongLong = long long;
