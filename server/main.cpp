// orbel-capture-server: serves a synthetic scene, BVH recordings or a scene
// file to stream clients until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "capture_server.h"
#include "command_line.h"
#include "synthetic_scene.h"
#if defined(ORBEL_HAVE_SCENE_LOADERS)
#include "playback/loaders.h"
#endif

namespace {

void say(const std::string& line) {
  std::fprintf(stderr, "orbel-capture-server: %s\n", line.c_str());
}

std::unique_ptr<orbel::server::Scene> makeScene(const orbel::server::CommandLine& cl,
                                                std::string& error) {
  if (!cl.bvhFiles.empty() || !cl.sceneFile.empty()) {
#if defined(ORBEL_HAVE_SCENE_LOADERS)
    if (!cl.bvhFiles.empty()) return orbel::server::loadBvhScene(cl.bvhFiles, error);
    return orbel::server::loadSceneFile(cl.sceneFile, error);
#else
    error = "this build has no scene file or BVH playback";
    return nullptr;
#endif
  }
  return std::make_unique<orbel::server::SyntheticScene>(cl.synthetic);
}

}  // namespace

int main(int argc, char** argv) {
  // Signals are taken by sigwait in this thread only; every thread started
  // later inherits the mask, so no handler runs in the middle of the server.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  orbel::server::CommandLine cl;
  std::string error;
  if (!orbel::server::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), cl,
                                       error)) {
    say(error);
    return 2;
  }
  if (cl.help) {
    std::fputs(orbel::server::usageText().c_str(), stdout);
    return 0;
  }

  std::shared_ptr<orbel::server::Scene> scene = makeScene(cl, error);
  if (!scene) {
    say(error);
    return 1;
  }
  orbel::server::CaptureServer server(scene, cl.server);
  if (!server.start(error)) {
    say(error);
    return 1;
  }
  const std::string& address = cl.server.bindAddress;
  std::printf(
      "listening on %s:%u\n",
      address.find(':') != std::string::npos ? ("[" + address + "]").c_str() : address.c_str(),
      static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  char rate[32];
  std::snprintf(rate, sizeof rate, "%g", server.framesPerSecond());
  say(std::string("serving at ") + rate + " frames per second");
  orbel::server::AddressRange bound;
  std::string ignored;
  if (cl.server.allow.empty() && orbel::server::AddressRange::parse(address, bound, ignored) &&
      !orbel::server::AccessList().allows(bound.network.data(), bound.v6 ? 16 : 4)) {
    say("listening beyond loopback, but only this machine is served; --allow CIDR serves others");
  }

  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGHUP) {
      say("switching the scene's description");
      scene->requestSwitch();
      continue;
    }
    say(signal == SIGINT ? "interrupted; stopping" : "terminated; stopping");
    break;
  }
  server.stop();
  return 0;
}
