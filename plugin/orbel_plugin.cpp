// The plug-in library: its static objects, its load notification and its two
// exported entry points.
//
// Load order. The static initialisers of this file run in definition order,
// which is the order the host relies on: library object, default port, default
// host, device type number, layout type number. No other file of the plug-in
// may take a type number or build a static that reads these.
//
// Load notification. On Windows it is DllMain, which the C runtime calls
// after it has run the statics above. Linux has no DllMain; a load-time
// constructor stands in for the process-attach notification (reason 1): a
// static object defined last in this file, so that it too runs after the
// statics above. A function marked __attribute__((constructor)) would not
// do: GCC runs it before the file's C++ static initialisers. The
// registration guards keep it and the host's later
// EntryPointOrbelMobuOptical(kFBDllLoad) idempotent. A test build
// (ORBEL_PLUGIN_NO_PROCESS_ATTACH) leaves the registrations out of the
// notification to show that the entry point alone registers.
// A test program that builds these sources in (ORBEL_PLUGIN_IN_PROGRAM) is
// no DLL, so it takes the stand-in on Windows too.
#include <fbsdk/fblibrary.h>
#include <fbsdk/fbplug.h>
#include <fbsdk/fbstring.h>

#include "orbel_defaults.h"
#include "orbel_registration.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define ORBEL_EXPORT extern "C" __declspec(dllexport)
#else
#define ORBEL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
FBLibrary gOrbelLibrary;
}  // namespace

const FBString gOrbelDefaultServerPort(kOrbelDefaultServerPort);
const FBString gOrbelDefaultServerHost(kOrbelDefaultServerHost);
const int gOrbelDeviceTypeInfo = FBPlug::mGlobalTypeInfo++;
const int gOrbelLayoutTypeInfo = FBPlug::mGlobalTypeInfo++;

#if defined(_WIN32) && !defined(ORBEL_PLUGIN_IN_PROGRAM)
// Not exported: the loader finds it as the DLL's entry, through the C
// runtime's own.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
#if defined(ORBEL_PLUGIN_NO_PROCESS_ATTACH)
  (void)reason;
  return TRUE;
#else
  return OrbelLibraryNotify(static_cast<int>(reason)) != 0 ? TRUE : FALSE;
#endif
}
#elif !defined(ORBEL_PLUGIN_NO_PROCESS_ATTACH)
namespace {
struct ProcessAttach {
  ProcessAttach() noexcept { OrbelLibraryNotify(1); }
};
ProcessAttach gProcessAttach;
}  // namespace
#endif

// Answers true and does nothing else.
ORBEL_EXPORT bool LIBRARY_INIT(HIObject /*object*/) noexcept { return true; }

// Operation kFBDllLoad (0) runs the device-class registration and then the
// layout-class registration; every other code does nothing.
ORBEL_EXPORT void EntryPointOrbelMobuOptical(kFBDllOperation operation) noexcept {
  if (operation == kFBDllLoad) {
    OrbelRegisterDeviceClass();
    OrbelRegisterLayoutClass();
  }
}
