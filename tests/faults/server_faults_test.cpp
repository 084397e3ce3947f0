// The capture server under load it does not control: a client that stops
// reading, a host that takes frames far more slowly than the server sends
// them, and fifty clients at once. Every wait is for a condition, bounded
// generously, so a slow or sanitized build only takes longer.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ClientTesting.h"
#include "OrbelDataStreamSDK/Client.h"
#include "capture_server.h"
#include "orbel/protocol/messages.h"
#include "synthetic_scene.h"

namespace orbel::faults {
namespace {

namespace sdk = OrbelDataStreamSDK::CPP;
namespace protocol = orbel::protocol;
using server::CaptureServer;
using server::ServerConfig;
using server::SyntheticScene;
using server::SyntheticSceneConfig;

bool Eventually(const std::function<bool()>& f,
                std::chrono::seconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return f();
}

// The server's log lines, gathered from its thread.
class LogLines {
 public:
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mMutex);
    mLines.push_back(line);
  }
  bool Has(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mMutex);
    for (const std::string& line : mLines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }

 private:
  mutable std::mutex mMutex;
  std::vector<std::string> mLines;
};

std::unique_ptr<CaptureServer> StartServer(double framesPerSecond,
                                           std::size_t softLimitBytes = 256 * 1024,
                                           LogLines* log = nullptr) {
  ServerConfig config;
  config.port = 0;
  config.framesPerSecond = framesPerSecond;
  config.queueSoftLimitBytes = softLimitBytes;
  config.log = [log](const std::string& line) {
    if (log != nullptr) log->Add(line);
  };
  auto server = std::make_unique<CaptureServer>(
      std::make_shared<SyntheticScene>(SyntheticSceneConfig()), config);
  std::string error;
  EXPECT_TRUE(server->start(error)) << error;
  return server;
}

std::string Address(const CaptureServer& server) {
  return "127.0.0.1:" + std::to_string(server.port());
}

// Connects with every kind of data asked for.
bool ConnectForAll(sdk::Client& client, const CaptureServer& server) {
  client.EnableSegmentData();
  client.EnableMarkerData();
  client.EnableUnlabeledMarkerData();
  return client.Connect(Address(server)).Result == sdk::Result::Success;
}

// Waits for a frame newer than `after` and answers its number.
bool TakeFrameAfter(sdk::Client& client, unsigned after, unsigned& taken) {
  return Eventually([&] {
    if (client.GetFrame().Result != sdk::Result::Success) return false;
    taken = client.GetFrameNumber().FrameNumber;
    return taken > after;
  });
}

// A peer that speaks the protocol by hand, with a receive buffer shrunk so
// that the server's side fills after a few frames when it stops reading.
class RawPeer {
 public:
  explicit RawPeer(std::uint16_t port) {
    mFd = socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;
    setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    mConnected = connect(mFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawPeer() {
    if (mFd >= 0) close(mFd);
  }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  bool connected() const { return mConnected; }

  bool AskForEverything() {
    std::vector<std::uint8_t> bytes;
    protocol::encode(protocol::ClientHello{protocol::kVersion, "stalled"}, bytes);
    protocol::encode(protocol::Want{1, protocol::Kind::All}, bytes);
    return send(mFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }

  // Reads `bytes` (the server keeps sending once the peer reads again) and
  // splits them into messages. False when they are not a run of whole,
  // decodable messages.
  bool Read(std::size_t bytes, std::vector<std::uint64_t>& frameNumbers, std::string& problem) {
    std::vector<std::uint8_t> buffer;
    std::uint8_t chunk[65536];
    while (buffer.size() < bytes) {
      pollfd p{mFd, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) break;
      const ssize_t n = recv(mFd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      buffer.insert(buffer.end(), chunk, chunk + n);
    }
    std::size_t offset = 0;
    while (offset < buffer.size()) {
      protocol::MessageView m;
      const protocol::Error e = protocol::splitMessage(
          buffer.data() + offset, buffer.size() - offset, protocol::kMaxServerBodyBytes, m);
      if (e == protocol::Error::Incomplete) break;  // the rest is still on its way
      if (e != protocol::Error::None) {
        problem = std::string("corrupt stream at byte ") + std::to_string(offset) + ": " +
                  protocol::errorName(e);
        return false;
      }
      if (m.type == protocol::MessageType::Frame) {
        protocol::Frame frame;
        std::string detail;
        if (protocol::decode(m.body, m.bodyBytes, frame, detail) != protocol::Error::None) {
          problem = "undecodable frame: " + detail;
          return false;
        }
        frameNumbers.push_back(frame.number);
      }
      offset += m.totalBytes;
    }
    return true;
  }

 private:
  int mFd = -1;
  bool mConnected = false;
};

TEST(ServerFaults, ClientThatStopsReadingDoesNotHoldBackOthers) {
  constexpr std::size_t kSoftLimit = 64 * 1024;
  LogLines log;
  auto server = StartServer(1000, kSoftLimit, &log);
  ASSERT_NE(server, nullptr);

  auto stalledPeer = std::make_unique<RawPeer>(server->port());
  RawPeer& stalled = *stalledPeer;
  ASSERT_TRUE(stalled.connected());
  ASSERT_TRUE(stalled.AskForEverything());

  sdk::Client healthy;
  ASSERT_TRUE(ConnectForAll(healthy, *server));
  unsigned first = 0;
  ASSERT_TRUE(TakeFrameAfter(healthy, 0, first));

  // The stalled peer's queue passes the soft limit: from then on its frames
  // are dropped, not queued.
  ASSERT_TRUE(Eventually([&] { return server->framesDropped() > 0; }));

  // The healthy client still gets fresh frames, hundreds of them later.
  unsigned later = 0;
  ASSERT_TRUE(TakeFrameAfter(healthy, first + 300, later));
  EXPECT_EQ(server->clientCount(), 2u) << "a slow reader is kept, not thrown out";

  // What the stalled peer costs the server stays near the soft limit (one
  // frame over it, and heartbeats), far below the hard limit.
  const std::size_t peak = server->peakQueuedBytes();
  EXPECT_LE(peak, kSoftLimit + 64 * 1024) << "queue grew to " << peak << " bytes";

  // Dropped frames are dropped whole: what the peer finally reads is a run
  // of complete messages with frame numbers that only go up.
  std::vector<std::uint64_t> numbers;
  std::string problem;
  ASSERT_TRUE(stalled.Read(peak + 256 * 1024, numbers, problem)) << problem;
  ASSERT_GT(numbers.size(), 1u);
  for (std::size_t i = 1; i < numbers.size(); ++i) {
    ASSERT_LT(numbers[i - 1], numbers[i]) << "at message " << i;
  }

  // When it leaves, the log says what it missed, so a user can tell a slow
  // client from a slow server.
  stalledPeer.reset();
  EXPECT_TRUE(Eventually([&] { return log.Has("frames because it did not read them in time"); }));
}

TEST(ServerFaults, SlowHostTakesTheNewestFrameAndNoBacklog) {
  auto server = StartServer(1000);
  ASSERT_NE(server, nullptr);
  sdk::Client client;
  ASSERT_TRUE(ConnectForAll(client, *server));
  unsigned previous = 0;
  ASSERT_TRUE(TakeFrameAfter(client, 0, previous));

  // The host takes a frame only after the client has received another 200:
  // each take must hand out the newest, and leave nothing older behind.
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::uint64_t received = sdk::ClientTestAccess::framesReceived(client);
    ASSERT_TRUE(Eventually(
        [&] { return sdk::ClientTestAccess::framesReceived(client) >= received + 200; }));
    ASSERT_EQ(client.GetFrame().Result, sdk::Result::Success);
    const unsigned taken = client.GetFrameNumber().FrameNumber;
    EXPECT_GE(taken, previous + 200) << "an old frame was handed out after " << previous;

    // No queue of older frames: the next take is either nothing new or a
    // frame that arrived since, never one from before `taken`.
    const sdk::Result::Enum next = client.GetFrame().Result;
    if (next == sdk::Result::Success) {
      EXPECT_GT(client.GetFrameNumber().FrameNumber, taken);
    } else {
      EXPECT_EQ(next, sdk::Result::NoFrame);
    }
    previous = client.GetFrameNumber().FrameNumber;
  }
  // The client reads everything the server sends, so the server never has
  // to queue or drop anything for it.
  EXPECT_EQ(server->framesDropped(), 0u);
  EXPECT_LE(server->peakQueuedBytes(), 256u * 1024 + 64 * 1024);
}

// Lets n threads past Arrive() only together.
class StartLine {
 public:
  explicit StartLine(int n) : mWaiting(n) {}
  void Arrive() {
    std::unique_lock<std::mutex> lock(mMutex);
    if (--mWaiting == 0) mGo.notify_all();
    mGo.wait(lock, [&] { return mWaiting <= 0; });
  }

 private:
  std::mutex mMutex;
  std::condition_variable mGo;
  int mWaiting;
};

TEST(ServerFaults, FiftyClientsAtOnce) {
  constexpr int kClients = 50;
  auto server = StartServer(120);
  ASSERT_NE(server, nullptr);

  StartLine connect(kClients);
  StartLine leave(kClients + 1);  // the test thread counts the clients first
  std::atomic<int> connected{0};
  std::atomic<int> streamed{0};
  std::vector<std::string> failures(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      sdk::Client client;
      connect.Arrive();
      if (ConnectForAll(client, *server)) {
        ++connected;
        // Ten distinct frames, each with the data asked for.
        unsigned number = 0;
        int frames = 0;
        for (; frames < 10; ++frames) {
          if (!TakeFrameAfter(client, number, number)) break;
          if (client.GetSubjectCount().SubjectCount != 2 ||
              client.GetSegmentLocalTranslation("Actor1", "Hips").Result != sdk::Result::Success) {
            failures[i] = "frame " + std::to_string(number) + " lacks Actor1's Hips";
            break;
          }
        }
        if (frames == 10) ++streamed;
        if (failures[i].empty() && frames < 10) {
          failures[i] = "only " + std::to_string(frames) + " frames";
        }
      } else {
        failures[i] = "did not connect: " + sdk::ClientTestAccess::lastErrorText(client);
      }
      leave.Arrive();
      client.Disconnect();
    });
  }
  const bool allCounted =
      Eventually([&] { return connected.load() == kClients && server->clientCount() == kClients; });
  leave.Arrive();
  for (std::thread& t : threads) t.join();

  EXPECT_TRUE(allCounted) << connected.load() << " connected, the server counts "
                          << server->clientCount();
  EXPECT_EQ(streamed.load(), kClients);
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(failures[i], "") << "client " << i;
  EXPECT_TRUE(Eventually([&] { return server->clientCount() == 0; }))
      << server->clientCount() << " clients left after all said goodbye";
}

}  // namespace
}  // namespace orbel::faults
