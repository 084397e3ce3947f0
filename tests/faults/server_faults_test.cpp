// The capture server under load it does not control: a client that stops
// reading, a host that takes frames far more slowly than the server sends
// them, and fifty clients at once. Every wait is for a condition, bounded
// generously, so a slow or sanitized build only takes longer.
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
using in_addr_t = u_long;
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ClientTesting.h"
#include "Net.h"
#include "OrbelDataStreamSDK/Client.h"
#include "capture_server.h"
#include "orbel/protocol/messages.h"
#include "server_process.h"
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
  bool Has(const std::string& part) const { return Count(part) > 0; }
  std::size_t Count(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mMutex);
    std::size_t n = 0;
    for (const std::string& line : mLines) n += line.find(part) != std::string::npos ? 1 : 0;
    return n;
  }
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mLines;
  }

 private:
  mutable std::mutex mMutex;
  std::vector<std::string> mLines;
};

constexpr std::size_t kDefaultSoftLimit = std::size_t{256} * 1024;

std::unique_ptr<CaptureServer> StartServer(double framesPerSecond,
                                           std::size_t softLimitBytes = kDefaultSoftLimit,
                                           LogLines* log = nullptr, ServerConfig config = {}) {
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
  explicit RawPeer(std::uint16_t port, in_addr_t to = htonl(INADDR_LOOPBACK)) {
    mFd = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
#if !defined(_WIN32)
    timeval patience{20, 0};  // a send into a server that stopped reading fails, not hangs
    setsockopt(mFd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    // Small segments keep the server's kernel from growing its send buffer
    // for this peer to megabytes: what the server queues for it then shows.
    int segment = 1024;
    setsockopt(mFd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = to;
    address.sin_port = htons(port);
    mConnected = connect(mFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawPeer() {
    if (mFd >= 0) net::closeSocket(mFd);
  }
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  bool connected() const { return mConnected; }

  bool AskForEverything() {
    std::vector<std::uint8_t> bytes;
    protocol::encode(protocol::ClientHello{protocol::kVersion, "stalled"}, bytes);
    protocol::encode(protocol::Want{1, protocol::Kind::All}, bytes);
    return Send(bytes);
  }
  bool Greet() {
    std::vector<std::uint8_t> bytes;
    protocol::encode(protocol::ClientHello{protocol::kVersion, "raw"}, bytes);
    return Send(bytes);
  }
  bool Send(const std::vector<std::uint8_t>& bytes) {
    std::string ignored;
    return net::sendAll(mFd, bytes.data(), bytes.size(),
                        std::chrono::steady_clock::now() + mPatience, ignored);
  }
  // How long a send may wait for the server to read (20 s unless set).
  void SetPatience(std::chrono::seconds patience) {
    mPatience = patience;
#if !defined(_WIN32)
    timeval wait{static_cast<time_t>(patience.count()), 0};
    setsockopt(mFd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
#endif
  }

  // What the server says first: "hello", "goodbye: REASON", or "closed"
  // when it closes without a word.
  std::string FirstWord() {
    std::vector<std::uint8_t> buffer;
    std::uint8_t chunk[4096];
    std::string error;
    std::size_t n = 0;
    while (net::waitReadable(mFd, 10000, error) == 1) {
      const net::Received r = net::receiveSome(mFd, chunk, sizeof chunk, n, error);
      if (r == net::Received::Closed || r == net::Received::Failed) return "closed";
      buffer.insert(buffer.end(), chunk, chunk + n);
      protocol::MessageView m;
      if (protocol::splitMessage(buffer.data(), buffer.size(), protocol::kMaxServerBodyBytes, m) !=
          protocol::Error::None) {
        continue;
      }
      if (m.type == protocol::MessageType::ServerHello) return "hello";
      protocol::Goodbye bye;
      std::string detail;
      protocol::decode(m.body, m.bodyBytes, bye, detail);
      return "goodbye: " + bye.reason;
    }
    return "silent";
  }

  // Reads `bytes` (the server keeps sending once the peer reads again) and
  // splits them into messages. False when they are not a run of whole,
  // decodable messages.
  bool Read(std::size_t bytes, std::vector<std::uint64_t>& frameNumbers, std::string& problem) {
    std::vector<std::uint8_t> buffer;
    std::uint8_t chunk[65536];
    std::string error;
    std::size_t n = 0;
    while (buffer.size() < bytes && net::waitReadable(mFd, 5000, error) == 1) {
      const net::Received r = net::receiveSome(mFd, chunk, sizeof chunk, n, error);
      if (r == net::Received::Closed || r == net::Received::Failed) break;
      if (r == net::Received::Bytes) buffer.insert(buffer.end(), chunk, chunk + n);
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
  std::chrono::seconds mPatience{20};
};

TEST(ServerFaults, ClientThatStopsReadingDoesNotHoldBackOthers) {
  constexpr std::size_t kSoftLimit = std::size_t{64} * 1024;
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
  EXPECT_LE(peak, kSoftLimit + std::size_t{64} * 1024) << "queue grew to " << peak << " bytes";

  // Dropped frames are dropped whole: what the peer finally reads is a run
  // of complete messages with frame numbers that only go up.
  std::vector<std::uint64_t> numbers;
  std::string problem;
  ASSERT_TRUE(stalled.Read(peak + std::size_t{256} * 1024, numbers, problem)) << problem;
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
  threads.reserve(kClients);
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

// ---- Hostile clients ---------------------------------------------------------------
// Each fault a peer on the network could cause, against the real server:
// in this process where its log and counters tell, as a program where its
// memory, descriptors and CPU time do.

// A server process's memory, descriptors and CPU time, as the fault tests
// below measure them, are Linux's (/proc, prlimit).
#if !defined(_WIN32)
std::string FileText(const std::string& path) {
  std::ifstream file(path);
  return std::string((std::istreambuf_iterator<char>(file)), {});
}

long ProcStatusKiB(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}

// User and system time, in clock ticks: fields 14 and 15, after the
// command name, which may hold spaces.
long ProcCpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), {});
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;
  long user = 0;
  long system = 0;
  fields >> user >> system;
  return user + system;
}

TEST(HostileClients, ClientsThatAskAndNeverReadStayWithinTheirMemoryBound) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer's shadow memory hides the server's own";
#endif
  ServerProcess server;
  std::string error;
  const std::string logFile = ::testing::TempDir() + "orbel_memory_bound.log";
  // What is measured is memory, not idleness: a test thread held up for a
  // while on a loaded machine must not see its peers dropped as idle.
  ASSERT_TRUE(server.Start({"--port", "0", "--idle-timeout", "600"}, error, logFile)) << error;
  std::vector<std::unique_ptr<RawPeer>> peers;
  for (int i = 0; i < 12; ++i) {
    peers.push_back(std::make_unique<RawPeer>(server.port()));
    // 36 MiB of requests to read: a loaded machine may take its time.
    peers.back()->SetPatience(std::chrono::seconds(90));
    ASSERT_TRUE(peers.back()->AskForEverything());
  }
  const long before = ProcStatusKiB(server.pid(), "VmHWM:");
  // 3 MiB of requests from each, their kinds alternating: one queued
  // acknowledgement per request would be 3 MiB a client.
  std::vector<std::uint8_t> wants;
  for (std::uint32_t i = 2; wants.size() < std::size_t{64} * 1024; ++i) {
    protocol::encode(protocol::Want{i, i % 2 ? protocol::Kind::All : protocol::Kind::Segments},
                     wants);
  }
  for (int round = 0; round < 48; ++round) {
    for (auto& peer : peers) ASSERT_TRUE(peer->Send(wants)) << "round " << round;
  }
  std::vector<std::uint8_t> bye;
  protocol::encode(protocol::Goodbye{"done"}, bye);
  for (auto& peer : peers) ASSERT_TRUE(peer->Send(bye));
  // Each goodbye comes after all of that client's requests.
  ASSERT_TRUE(Eventually(
      [&] {
        const std::string log = FileText(logFile);
        std::size_t goodbyes = 0;
        for (std::size_t at = 0; (at = log.find("said goodbye", at)) != std::string::npos; ++at) {
          ++goodbyes;
        }
        return goodbyes == peers.size();
      },
      std::chrono::seconds(90)));
  // server/README.md: about 330 KiB a client for this scene, rounded up;
  // the rest is the allocator's slack, which varies from machine to machine.
  // A queue that grew with the requests would be 3 MiB a client, 36 MiB here.
  const long grown = ProcStatusKiB(server.pid(), "VmHWM:") - before;
  EXPECT_LE(grown, 12 * 400 + 14 * 1024) << "peak resident memory grew by " << grown << " KiB";
  // Bounded by replacing acknowledgements, not by hanging up on the clients.
  EXPECT_EQ(FileText(logFile).find("is not reading"), std::string::npos);
}

#endif

TEST(HostileClients, SilentClientsCannotHoldEverySlot) {
  LogLines log;
  ServerConfig config;
  config.idleTimeout = std::chrono::milliseconds(1500);
  auto server = StartServer(120, kDefaultSoftLimit, &log, config);
  std::vector<std::unique_ptr<RawPeer>> silent;
  for (int i = 0; i < 300; ++i) {
    silent.push_back(std::make_unique<RawPeer>(server->port()));
    ASSERT_TRUE(silent.back()->Greet());
  }
  ASSERT_TRUE(Eventually([&] { return server->clientCount() == 256; }));
  const auto full = std::chrono::steady_clock::now();

  sdk::Client good;
  EXPECT_EQ(good.Connect(Address(*server)).Result, sdk::Result::ConnectionFailed);
  EXPECT_NE(sdk::ClientTestAccess::lastErrorText(good).find("refused: server full: 256 clients"),
            std::string::npos)
      << sdk::ClientTestAccess::lastErrorText(good);
  // The silent ones go after the idle time, and the good client gets in,
  ASSERT_TRUE(Eventually([&] { return ConnectForAll(good, *server); }));
  EXPECT_LT(std::chrono::steady_clock::now() - full, std::chrono::seconds(6));
  // and keeps its slot past the idle time on its own heartbeats.
  std::this_thread::sleep_for(std::chrono::milliseconds(1800));
  unsigned number = 0;
  EXPECT_TRUE(TakeFrameAfter(good, 0, number));
  EXPECT_TRUE(good.IsConnected().Connected);

  EXPECT_TRUE(log.Has("sent nothing for 1500 ms"));
  // One line for the first refusal of the burst, one for the count of the rest.
  EXPECT_EQ(log.Count("refused: server full: 256 clients"), 1u);
  EXPECT_TRUE(Eventually([&] { return log.Has("more clients: server full: 256 clients"); }));
}

TEST(HostileClients, PeerTextReachesTheLogEscapedAndCut) {
  LogLines log;
  auto server = StartServer(120, kDefaultSoftLimit, &log);
  const std::pair<std::string, std::string> rows[] = {
      {"bye\nclient 10.0.0.1:1 connected", "said goodbye: bye\\nclient 10.0.0.1:1 connected"},
      {"\x1b[2J\x1b]0;owned\x07\r", "said goodbye: \\x1b[2J\\x1b]0;owned\\x07\\r"},
      {"a\\nb caf\xc3\xa9", "said goodbye: a\\\\nb caf\\xc3\\xa9"},
      {std::string(2000, 'A'), "AAAAAAAA... (2000 bytes in all)"},
  };
  for (const auto& row : rows) {
    RawPeer peer(server->port());
    std::vector<std::uint8_t> bytes;
    protocol::encode(protocol::ClientHello{protocol::kVersion, "forger"}, bytes);
    protocol::encode(protocol::Goodbye{row.first}, bytes);
    ASSERT_TRUE(peer.Send(bytes));
    EXPECT_TRUE(Eventually([&] { return log.Has(row.second); })) << row.second;
  }
  for (const std::string& line : log.Lines()) {
    EXPECT_EQ(line.find_first_of("\n\r\x1b\x07"), std::string::npos) << line;
    EXPECT_LE(line.size(), 300u) << line;
  }
}

#if !defined(_WIN32)
TEST(HostileClients, OutOfDescriptorsTheServerPausesInsteadOfSpinning) {
  ServerProcess server;
  std::string error;
  const std::string logFile = ::testing::TempDir() + "orbel_out_of_descriptors.log";
  ASSERT_TRUE(server.Start({"--port", "0"}, error, logFile)) << error;
  const rlimit few{16, 16};
  ASSERT_EQ(prlimit(server.pid(), RLIMIT_NOFILE, &few, nullptr), 0) << std::strerror(errno);
  std::vector<std::unique_ptr<RawPeer>> peers;
  for (int i = 0; i < 24; ++i) {
    peers.push_back(std::make_unique<RawPeer>(server.port()));
    peers.back()->Greet();
  }
  ASSERT_TRUE(Eventually(
      [&] { return FileText(logFile).find(std::strerror(EMFILE)) != std::string::npos; }));
  const std::size_t logged = FileText(logFile).size();
  const long ticks = ProcCpuTicks(server.pid());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_LT(ProcCpuTicks(server.pid()) - ticks, sysconf(_SC_CLK_TCK) / 3)
      << "CPU time while out of descriptors, in ticks";
  const std::string since = FileText(logFile).substr(logged);
  EXPECT_LE(std::count(since.begin(), since.end(), '\n'), 2) << since;

  // Descriptors free again: new clients are served.
  peers.clear();
  sdk::Client client;
  const std::string address = "127.0.0.1:" + std::to_string(server.port());
  EXPECT_TRUE(Eventually([&] { return client.Connect(address).Result == sdk::Result::Success; }));
  EXPECT_NE(FileText(logFile).find("accepting new clients again"), std::string::npos);
}
#endif

// This machine's first IPv4 address beyond loopback: connecting to it, the
// test is a peer from the network as far as the server can tell, while
// loopback, always served, cannot show a refusal.
bool NetworkAddress(in_addr_t& address) {
#if defined(_WIN32)
  // Windows: the first IPv4 address the machine's own name resolves to.
  char name[256] = "";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (gethostname(name, sizeof name) != 0 || getaddrinfo(name, nullptr, &hints, &found) != 0) {
    return false;
  }
  bool any = false;
  for (const addrinfo* a = found; a != nullptr && !any; a = a->ai_next) {
    address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    any = (ntohl(address) >> 24) != 127;
  }
  freeaddrinfo(found);
  return any;
#else
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return false;
  bool found = false;
  for (const ifaddrs* i = all; i != nullptr && !found; i = i->ifa_next) {
    if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET &&
        (i->ifa_flags & IFF_UP) != 0 && (i->ifa_flags & IFF_LOOPBACK) == 0) {
      address = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
      found = true;
    }
  }
  freeifaddrs(all);
  return found;
#endif
}

TEST(HostileClients, OnlyLoopbackAndTheAllowListAreServed) {
  in_addr_t network = 0;
  if (!NetworkAddress(network)) GTEST_SKIP() << "no address beyond loopback to connect from";
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &network, text, sizeof text);
  struct Row {
    std::vector<std::string> allow;
    in_addr_t from;
    const char* answer;
    std::string logged;
  };
  const Row rows[] = {
      {{}, network, "closed", "refused: not on the allow-list (serving loopback only)"},
      {{"203.0.113.0/24"}, network, "closed", "serving clients from loopback, 203.0.113.0/24"},
      {{std::string(text) + "/32"}, network, "hello", std::string(text) + ":"},
      {{"203.0.113.0/24"}, htonl(INADDR_LOOPBACK), "hello", "client 127.0.0.1:"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.logged);
    LogLines log;
    ServerConfig config;
    config.bindAddress = "0.0.0.0";
    for (const std::string& range : row.allow) {
      config.allow.emplace_back();
      std::string error;
      ASSERT_TRUE(server::AddressRange::parse(range, config.allow.back(), error)) << error;
    }
    auto server = StartServer(120, kDefaultSoftLimit, &log, config);
    RawPeer peer(server->port(), row.from);
    ASSERT_TRUE(peer.connected());
    peer.Greet();
    EXPECT_EQ(peer.FirstWord(), row.answer);
    EXPECT_TRUE(Eventually([&] { return log.Has(row.logged); }));
  }
}

}  // namespace
}  // namespace orbel::faults
