#include "orbel_registration.h"

#include <atomic>

#include <fbsdk/fbregistry.h>

namespace {

constexpr unsigned kBoxesDevicesBit = 1;
constexpr unsigned kFbxStorableDeviceBit = 2;
constexpr unsigned kLayoutBit = 1;

constexpr const char* kIcon = "OrbelOpticalDevice.tif";

// Constant-initialised: valid before any static initialiser runs.
std::atomic<unsigned> gDeviceRegistered{0};
std::atomic<unsigned> gLayoutRegistered{0};

// Sets the bit; true when this call is the one that set it.
bool Claim(std::atomic<unsigned>& word, unsigned bit) noexcept {
  return (word.fetch_or(bit) & bit) == 0;
}

}  // namespace

void OrbelRegisterDeviceClass() noexcept {
  // FBObject_Register's answer is not acted on: a refused registration is not retried.
  if (Claim(gDeviceRegistered, kBoxesDevicesBit)) {
    FBObject_Register("Boxes/Devices", "Orbel Stream Device", "Orbel Mocap Device",
                      OrbelDeviceFactory, true, kIcon);
  }
  if (Claim(gDeviceRegistered, kFbxStorableDeviceBit)) {
    FBObject_Register("FbxStorable/Device", "OrbelDeviceOptical", "Orbel Mocap Device",
                      OrbelDeviceFactory, true, kIcon);
  }
}

void OrbelRegisterLayoutClass() noexcept {
  if (Claim(gLayoutRegistered, kLayoutBit)) {
    FBObject_Register("UI_Associated_ClassName", "OrbelDeviceOptical",
                      "OrbelDeviceOptical Device Layout", OrbelLayoutFactory, true, kIcon);
  }
}

int OrbelLibraryNotify(int reason) noexcept {
  constexpr int kProcessAttach = 1;
  if (reason == kProcessAttach) {
    OrbelRegisterDeviceClass();
    OrbelRegisterLayoutClass();
  }
  return 1;
}
