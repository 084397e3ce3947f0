// The in-process capture server of every test that needs one: one scene on
// 127.0.0.1 and an ephemeral port, its log kept for inspection. A server
// that cannot start is a test failure (started() then answers false).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture_server.h"
#include "scene.h"

namespace orbel::testing {

class RunningServer {
 public:
  explicit RunningServer(std::shared_ptr<const server::Scene> scene,
                         server::ServerConfig config = {});
  ~RunningServer();
  RunningServer(const RunningServer&) = delete;
  RunningServer& operator=(const RunningServer&) = delete;

  bool started() const { return started_; }
  std::string address() const;
  std::uint16_t port() const { return server_->port(); }
  server::CaptureServer& server() { return *server_; }
  std::vector<std::string> log() const;
  void stop() { server_->stop(); }

 private:
  std::shared_ptr<const server::Scene> scene_;
  std::unique_ptr<server::CaptureServer> server_;
  bool started_ = false;
  mutable std::mutex logMutex_;
  std::vector<std::string> log_;
};

}  // namespace orbel::testing
