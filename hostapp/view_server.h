// The live view: a web page, served on loopback, that draws the scene's
// skeletons and markers in 3D as they stream, with the devices' status,
// information, frame rate and latency beside them, and the take while
// recording.
//
// Threads. The HTTP server (cpp-httplib) answers on its own threads. The
// view thread reads the scene at the display rate, through the SceneGate
// (scene_gate.h), only while a page or a /scene.json request wants it, and
// publishes the two messages of view_scene.h; each open page gets them as
// server-sent events ("scene" when the structure changes, "pose" every
// frame) on its own connection, and skips frames when it is slower than
// the display rate. Nothing here runs on the input or evaluation threads.
//
// What is served (only to requests for 127.0.0.1 or localhost, so that a
// web site cannot reach it through a name of its own):
//   /             the page (built into the program)
//   /view.js      its script
//   /three/...    Debian's three.js (libjs-three), read at start
//   /events       the event stream
//   /scene.json   one structure and pose, for scripts
#pragma once

#include <memory>
#include <string>

namespace orbel::hostapp {

class LiveStats;
class SceneGate;

struct ViewOptions {
  int port = 0;  // 0: a free port
  double framesPerSecond = 30.0;
  // Where Debian's libjs-three keeps three.js.
  std::string threeFolder = "/usr/share/javascript/three";
  // The settings file whose "AxisMapping" says the device's frame.
  std::string deviceSettings = "@OrbelOpticalDevice.txt";
};

class ViewServer {
 public:
  // Listens on 127.0.0.1 and starts the view thread. Null, with *error
  // quoting the port or the file, when the port is taken or not a port,
  // or when three.js is missing. stats may be null (no rate or latency).
  static std::unique_ptr<ViewServer> Start(const ViewOptions& options, SceneGate& gate,
                                           const LiveStats* stats, std::string* error);
  // Closes every page's stream and stops both threads.
  ~ViewServer();
  ViewServer(const ViewServer&) = delete;
  ViewServer& operator=(const ViewServer&) = delete;

  int Port() const;
  std::string Url() const;

 private:
  struct State;
  explicit ViewServer(std::unique_ptr<State> state);
  std::unique_ptr<State> mState;
};

}  // namespace orbel::hostapp
