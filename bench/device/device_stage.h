// A device on the stage scene (10 subjects x 60 segments, 600 labelled and
// 1000 unlabelled markers) served by a capture server in this process,
// made through the plug-in's factory, every kind of data streamed, for the
// device benchmarks.
#pragma once

#include <memory>
#include <string>

#include "OrbelSimpleDeviceOptical.h"

namespace orbel::device_bench {

class Stage {
 public:
  Stage();
  ~Stage();
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  // Empties the host's scene and adds a started device; null (with the
  // reason on stderr) when that fails.
  OrbelSimpleDeviceOptical* FreshDevice();
  // Waits until the server has sent a frame the client has not taken: a
  // bind reads no description without one. Callers keep it out of the
  // timing.
  bool WaitForNewFrame() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace orbel::device_bench
