// orbel-capture-server: serves a synthetic scene, BVH recordings or a scene
// file to stream clients until SIGINT or SIGTERM (on Windows: Ctrl+C, or
// the console closing). SIGHUP (Ctrl+Break) switches the description.
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which must come first.
#include <mmsystem.h>

#include <condition_variable>
#include <mutex>
#else
#include <pthread.h>
#include <signal.h>
#endif

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

// What the user asked of the running server, by signal or console event.
enum class Request { Switch, Interrupt, Terminate };

#if defined(_WIN32)
// Console events arrive on a thread of their own; main waits for them here.
std::mutex gRequestMutex;
std::condition_variable gRequestArrived;
int gSwitches = 0;
int gStop = 0;  // 0, or the Request to stop with

BOOL WINAPI OnConsoleEvent(DWORD event) {
  {
    std::lock_guard<std::mutex> lock(gRequestMutex);
    if (event == CTRL_BREAK_EVENT) {
      ++gSwitches;
    } else if (gStop == 0) {
      gStop = static_cast<int>(event == CTRL_C_EVENT ? Request::Interrupt : Request::Terminate);
    }
  }
  gRequestArrived.notify_one();
  // Closing the console, logging off or shutting down ends the process as
  // soon as this returns: wait here until main has said goodbye and exits.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    Sleep(INFINITE);
  }
  return TRUE;
}

void prepareRequests() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  // The loop's waits end on the millisecond rather than the default tick
  // of about 16 ms, which is longer than a frame at 120 per second.
  timeBeginPeriod(1);
}

Request nextRequest() {
  std::unique_lock<std::mutex> lock(gRequestMutex);
  gRequestArrived.wait(lock, [] { return gSwitches > 0 || gStop != 0; });
  if (gStop != 0) return static_cast<Request>(gStop);
  --gSwitches;
  return Request::Switch;
}
#else
// Signals are taken by sigwait in the main thread only; every thread
// started later inherits the mask, so no handler runs in the middle of the
// server.
sigset_t gSignals;

void prepareRequests() {
  sigemptyset(&gSignals);
  sigaddset(&gSignals, SIGINT);
  sigaddset(&gSignals, SIGTERM);
  sigaddset(&gSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &gSignals, nullptr);
}

Request nextRequest() {
  for (;;) {
    int signal = 0;
    if (sigwait(&gSignals, &signal) != 0) continue;
    if (signal == SIGHUP) return Request::Switch;
    return signal == SIGINT ? Request::Interrupt : Request::Terminate;
  }
}
#endif

}  // namespace

int main(int argc, char** argv) {
  prepareRequests();

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
    const Request request = nextRequest();
    if (request == Request::Switch) {
      say("switching the scene's description");
      scene->requestSwitch();
      continue;
    }
    say(request == Request::Interrupt ? "interrupted; stopping" : "terminated; stopping");
    break;
  }
  server.stop();
  return 0;
}
