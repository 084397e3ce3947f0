// The two factories the host calls to create a device and its panel.
//
// Layout factory, once the panel class (layout/) exists: allocate,
// take the device with FBGetFBObject(data, false), construct the layout for
// it, set mAllocated = true, call FBCreate; on true answer its handle,
// otherwise delete it and answer null. Only `data` is used. Until the panel
// class is linked into the plug-in, it answers no handle and creates nothing.
#include <exception>

#include "OrbelSimpleDeviceOptical.h"
#include "orbel_registration.h"

// Only `name` is used. The device comes from the host's component allocator
// (the class inherits FBComponent's operator new), so the host frees it at
// FBDelete; one that refuses creation is deleted here and the host gets no
// handle.
HIObject OrbelDeviceFactory(HIObject /*owner*/, const char* name, void* /*data*/) noexcept {
  OrbelSimpleDeviceOptical* device = nullptr;
  try {
    device = new OrbelSimpleDeviceOptical(name);
  } catch (const std::exception&) {
    return nullptr;
  }
  device->mAllocated = true;
  device->mRegisteredClassName = OrbelSimpleDeviceOptical::kRegisteredClassName;
  if (device->FBCreate()) return device->GetHIObject();
  delete device;
  return nullptr;
}

HIObject OrbelLayoutFactory(HIObject /*owner*/, const char* /*name*/, void* /*data*/) noexcept {
  return nullptr;
}
