// orbel-panel-pictures: draws the device's settings panel as the host shows
// it, for the documentation: once as a new device opens it, once while the
// device streams from a capture server running in this program.
//
//   orbel-panel-pictures [--any-port] <folder>
//
// makes the folder when it is missing, and writes panel-default.png, panel-default.svg,
// panel-online.png and panel-online.svg into the folder. Settings go to a scratch folder, so the
// user's own settings file is neither read nor changed.
#include <errno.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

#include <fbhost/config.h>
#include <fbhost/devices.h>
#include <fbhost/idle.h>
#include <fbhost/panel.h>
#include <fbhost/progress.h>
#include <fbrender/panel_picture.h>

#include "capture_server.h"
#include "synthetic_scene.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "orbel-panel-pictures: %s\n", message.c_str());
  return 1;
}

bool WritePictures(const fbhost::Panel& panel, const std::string& folder, const char* name,
                   std::string* error) {
  const std::string base = folder + "/" + name;
  return fbrender::WritePanelPng(panel, base + ".png", 2, error) &&
         fbrender::WritePanelSvg(panel, base + ".svg", error);
}

void RemoveTree(const std::string& path) {
  nftw(
      path.c_str(),
      [](const char* p, const struct stat*, int, struct FTW*) { return std::remove(p); }, 16,
      FTW_DEPTH | FTW_PHYS);
}

// Serves a small synthetic scene on the loopback address: on the default
// port when it is free (and not anyPort), so that the picture shows the port
// a user sees, otherwise on any free port.
std::unique_ptr<orbel::server::CaptureServer> StartServer(bool anyPort, std::string* error) {
  orbel::server::SyntheticSceneConfig scene;
  scene.subjects = 2;
  scene.segmentsPerSubject = 3;
  scene.markersPerSubject = 2;
  scene.unlabeled = 3;
  for (const std::uint16_t port : {std::uint16_t{801}, std::uint16_t{0}}) {
    if (anyPort && port != 0) continue;
    orbel::server::ServerConfig config;
    config.port = port;
    config.log = [](const std::string&) {};
    auto server = std::make_unique<orbel::server::CaptureServer>(
        std::make_shared<orbel::server::SyntheticScene>(scene), config);
    if (server->start(*error)) return server;
  }
  return nullptr;
}

int Run(const std::string& folder, bool anyPort) {
  std::string error;
  FBDevice* device = fbhost::AddDevice("Orbel Stream Device", &error);
  if (device == nullptr) return Fail("cannot add the device: " + error);
  // Users name devices in their own language; the picture shows that it reads.
  device->LongName = "B\u00fchne S\u00fcd \u2713";
  int status = 0;
  {
    std::unique_ptr<fbhost::Panel> panel = fbhost::Panel::Open(device, &error);
    if (panel == nullptr) {
      fbhost::RemoveDevice(device);
      return Fail("cannot open the panel: " + error);
    }
    fbhost::RaiseUIIdle();
    if (!WritePictures(*panel, folder, "panel-default", &error)) status = Fail(error);

    auto server = status == 0 ? StartServer(anyPort, &error) : nullptr;
    if (status == 0 && server == nullptr) status = Fail("cannot start the server: " + error);
    if (status == 0) {
      // What a user does: point the device at the server, choose what to
      // stream, switch it online.
      const bool typed =
          panel->TypeText("EditNetworkAddress", "127.0.0.1", &error) &&
          panel->TypeText("EditNetworkPort", std::to_string(server->port()), &error) &&
          panel->Click("ButtonEnableBones", &error) && panel->Click("ButtonEnableMarkers", &error);
      if (!typed) status = Fail(error);
    }
    if (status == 0 && !fbhost::SetDeviceOnline(device, true)) {
      status = Fail("the device did not go online: " + device->Information.Get().str());
    }
    if (status == 0) {
      fbhost::RaiseUIIdle();
      if (!WritePictures(*panel, folder, "panel-online", &error)) status = Fail(error);
    }
    fbhost::SetDeviceOnline(device, false);
    panel.reset();
    if (server) server->stop();
  }
  fbhost::RemoveDevice(device);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const bool anyPort = argc == 3 && std::string(argv[1]) == "--any-port";
  if (argc != 2 && !anyPort) {
    std::fprintf(stderr, "usage: orbel-panel-pictures [--any-port] <folder>\n");
    return 2;
  }
  const std::string folder = argv[argc - 1];
  if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    return Fail("cannot make the folder '" + folder + "'");
  }
  const char* base = std::getenv("TMPDIR");
  std::string scratch = std::string(base && *base ? base : "/tmp") + "/orbel-pictures-XXXXXX";
  if (mkdtemp(scratch.data()) == nullptr) return Fail("cannot make a scratch folder");
  fbhost::SetConfigFolder(scratch);
  fbhost::SetFlushToDisk(false);
  fbhost::SetProgressEcho(false);
  const int status = Run(folder, anyPort);
  RemoveTree(scratch);
  return status;
}
