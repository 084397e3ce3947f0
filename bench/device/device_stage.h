// A device on a synthetic scene preset ("stage" by default: 10 subjects x
// 60 segments, 600 labelled and 1000 unlabelled markers; "small": 2 x 20
// segments, 80 labelled and 100 unlabelled; "stage4x": 40 x 60 segments,
// 2400 labelled and 4000 unlabelled) served by a capture server in
// this process, made through the plug-in's factory, every kind of data
// streamed, for the device, binding and end-to-end benchmarks.
#pragma once

#include <memory>
#include <string>

#include "OrbelSimpleDeviceOptical.h"

namespace orbel::device_bench {

class Stage {
 public:
  // fps 0: the scene's own rate.
  explicit Stage(const std::string& preset = "stage", double fps = 0);
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

  const std::string& Preset() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace orbel::device_bench
