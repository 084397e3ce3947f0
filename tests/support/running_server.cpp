#include "running_server.h"

#include <gtest/gtest.h>

#include <utility>

namespace orbel::testing {

RunningServer::RunningServer(std::shared_ptr<const server::Scene> scene,
                             server::ServerConfig config)
    : scene_(std::move(scene)) {
  config.port = 0;
  config.bindAddress = "127.0.0.1";
  config.log = [this](const std::string& line) {
    std::lock_guard<std::mutex> lock(logMutex_);
    log_.push_back(line);
  };
  server_ = std::make_unique<server::CaptureServer>(scene_, std::move(config));
  std::string error;
  started_ = server_->start(error);
  if (!started_) ADD_FAILURE() << "server did not start: " << error;
}

RunningServer::~RunningServer() { server_->stop(); }

std::string RunningServer::address() const { return "127.0.0.1:" + std::to_string(port()); }

std::vector<std::string> RunningServer::log() const {
  std::lock_guard<std::mutex> lock(logMutex_);
  return log_;
}

}  // namespace orbel::testing
