// The two factories the host calls to create a device and its panel.
#include <exception>

#include <fbsdk/fbregistry.h>

#include "OrbelDeviceOpticalLayout.h"
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

// Only `data` is used: the handle of the device the panel is for. The panel
// comes from the host's component allocator too; one that refuses creation
// (its device is of another class, or there is none) is deleted here and the
// host gets no handle.
HIObject OrbelLayoutFactory(HIObject /*owner*/, const char* /*name*/, void* data) noexcept {
  FBComponent* object = FBGetFBObject(static_cast<HIObject>(data), false);
  OrbelDeviceOpticalLayout* layout = nullptr;
  try {
    layout = new OrbelDeviceOpticalLayout(dynamic_cast<FBDevice*>(object));
  } catch (const std::exception&) {
    return nullptr;
  }
  layout->mAllocated = true;
  if (layout->FBCreate()) return layout->GetHIObject();
  delete layout;
  return nullptr;
}
