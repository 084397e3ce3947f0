// The capture server: serves one Scene to any number of clients over the
// stream protocol, at a fixed rate, from one thread.
//
// One event loop owns every socket. Each tick computes the scene's frame
// once, encodes it once per combination of data kinds that clients want,
// and queues it to each client. A client that does not keep up has frames
// dropped for it (its queue is bounded) and never holds back the others; a
// client that sends anything malformed, or nothing at all for too long, is
// logged and disconnected. server/README.md has every limit in one table.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "access_list.h"
#include "scene.h"
#include "stream_timecode.h"

namespace orbel::server {

struct ServerConfig {
  std::string bindAddress = "127.0.0.1";  // numeric IPv4 or IPv6
  std::uint16_t port = 801;               // 0 picks a free port
  double framesPerSecond = 0;             // 0: the scene's own rate
  // The timecode stamped on frames when the scene serves none of its own.
  TimecodeStandard timecode = TimecodeStandard::None;

  // Clients served at once; one more is told "server full: N clients".
  std::size_t maxClients = 256;
  // Past this many bytes waiting in a client's queue, its frames are dropped
  // and a new description waits. Whatever else it is owed (greeting,
  // acknowledgements, goodbye) still fits in kControlAllowanceBytes more.
  std::size_t queueSoftLimitBytes = std::size_t{256} * 1024;
  std::chrono::milliseconds heartbeatInterval{250};
  std::chrono::milliseconds greetingTimeout{5000};
  // A greeted client that sends no whole message (a heartbeat will do) for
  // this long holds a slot for nothing and is dropped.
  std::chrono::milliseconds idleTimeout{10000};
  // Who may connect besides loopback; anyone else is logged and dropped.
  std::vector<AddressRange> allow;

  // Receives every log line (connections, errors), without a newline.
  // Called from the server's thread. Default: standard error.
  std::function<void(const std::string&)> log;
};

// A client's queue holds at most the soft limit, the scene's largest
// message (one frame or description that crossed the limit) and this; a
// client whose queue would pass that is dropped for not reading.
inline constexpr std::size_t kControlAllowanceBytes = std::size_t{64} * 1024;

class CaptureServer {
 public:
  CaptureServer(std::shared_ptr<const Scene> scene, ServerConfig config);
  ~CaptureServer();
  CaptureServer(const CaptureServer&) = delete;
  CaptureServer& operator=(const CaptureServer&) = delete;

  // Binds, listens and starts serving. False with a message a user can act
  // on (naming the address and port) when that fails.
  bool start(std::string& error);
  // Says goodbye to every client, closes everything and joins the thread.
  // Safe to call more than once.
  void stop();

  // The port actually bound (useful after asking for port 0).
  std::uint16_t port() const { return boundPort_; }
  double framesPerSecond() const { return fps_; }

  // Counters for tests and logs.
  std::uint64_t framesProduced() const { return framesProduced_.load(); }
  std::size_t clientCount() const { return clientCount_.load(); }
  // Frames not queued to a client because its queue was past the soft limit,
  // over all clients since the start.
  std::uint64_t framesDropped() const { return framesDropped_.load(); }
  // The most bytes any one client's queue has held since the start: what a
  // client that stops reading costs the server.
  std::size_t peakQueuedBytes() const { return peakQueuedBytes_.load(); }

 private:
  class Loop;

  std::shared_ptr<const Scene> scene_;
  ServerConfig config_;
  double fps_ = 0;
  std::uint16_t boundPort_ = 0;
  std::unique_ptr<Loop> loop_;
  std::thread thread_;
  std::atomic<std::uint64_t> framesProduced_{0};
  std::atomic<std::size_t> clientCount_{0};
  std::atomic<std::uint64_t> framesDropped_{0};
  std::atomic<std::size_t> peakQueuedBytes_{0};
};

}  // namespace orbel::server
