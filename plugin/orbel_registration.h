// orbel_registration.h: class registration and the two factories.
//
// Private to the plug-in library.
#pragma once

#include <fbsdk/fbsdk_api.h>

// The device class's registrations, each made at most once per process:
//   "Boxes/Devices"      "Orbel Stream Device"  (guard bit 1)
//   "FbxStorable/Device" "OrbelDeviceOptical"   (guard bit 2)
// Called on the loader's thread (load notification, entry point); safe to
// call again from any thread: the guard bit is set (atomically) before its
// registration call, which is then never repeated, even if it failed.
void OrbelRegisterDeviceClass() noexcept;
// The layout class's registration "UI_Associated_ClassName"
// "OrbelDeviceOptical" (guard bit 1 of its own word), same guarantees.
void OrbelRegisterLayoutClass() noexcept;

// The library load notification (DllMain calls it on Windows, a load-time
// constructor on Linux). Reason 1 is the process-attach notification: runs
// the device-class registration, then the layout-class registration. Every
// other reason does nothing. Answers 1 for every reason.
int OrbelLibraryNotify(int reason) noexcept;

// Factories registered with the host (kFBObjectCreatorFnc). The host calls
// them on its UI thread. See orbel_factories.cpp for what they do and when
// they answer no handle.
HIObject OrbelDeviceFactory(HIObject owner, const char* name, void* data) noexcept;
HIObject OrbelLayoutFactory(HIObject owner, const char* name, void* data) noexcept;
