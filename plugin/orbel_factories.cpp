// The two factories the host calls to create a device and its panel
// (Part 1.1).
//
// Device factory, once the device class (device/, Part 3.1) exists: allocate
// with the component allocator (`new OrbelSimpleDeviceOptical(name)`: the
// class inherits FBComponent's operator new), set mAllocated = true, set the
// device's registered class-name text to "OrbelDeviceOptical", call FBCreate;
// on true answer GetHIObject(), otherwise delete the object and answer null.
// Only `name` is used.
//
// Layout factory, once the panel class (layout/, Part 4.1) exists: allocate,
// take the device with FBGetFBObject(data, false), construct the layout for
// it, set mAllocated = true, call FBCreate; on true answer its handle,
// otherwise delete it and answer null. Only `data` is used.
//
// Until those classes are linked into the plug-in, both factories answer no
// handle and create nothing.
#include "orbel_registration.h"

HIObject OrbelDeviceFactory(HIObject /*owner*/, const char* /*name*/, void* /*data*/) noexcept {
  return nullptr;
}

HIObject OrbelLayoutFactory(HIObject /*owner*/, const char* /*name*/, void* /*data*/) noexcept {
  return nullptr;
}
