// The capture server seen from raw sockets: what it sends, whom it drops
// and why, and that one bad or slow client never costs the others.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "Net.h"
#include "capture_server.h"
#include "orbel/protocol/messages.h"
#include "synthetic_scene.h"

namespace orbel::server {
namespace {

namespace protocol = orbel::protocol;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(10);  // guards hangs, measures nothing

struct Message {
  protocol::MessageType type = protocol::MessageType::Heartbeat;
  Bytes body;
};

// A client speaking the protocol by hand.
class RawClient {
 public:
  explicit RawClient(std::uint16_t port) {
    net::ConnectError code = net::ConnectError::None;
    std::string error;
    fd_ =
        net::connectTo({"127.0.0.1", std::to_string(port)}, Clock::now() + kDeadline, code, error);
    connected_ = fd_ >= 0;
  }
  ~RawClient() {
    if (fd_ >= 0) net::closeSocket(fd_);
  }

  bool connected() const { return connected_; }

  void send(const Bytes& b) const {
    std::string ignored;
    net::sendAll(fd_, b.data(), b.size(), Clock::now() + kDeadline, ignored);
  }

  void greet(std::uint8_t kinds, std::uint16_t version = protocol::kVersion) const {
    Bytes b;
    protocol::encode(protocol::ClientHello{version, "raw"}, b);
    protocol::encode(protocol::Want{1, kinds}, b);
    send(b);
  }

  // The next whole message; false on end of stream or deadline.
  bool next(Message& m, Clock::time_point end = Clock::now() + kDeadline) {
    for (;;) {
      protocol::MessageView v;
      const auto e =
          protocol::splitMessage(buffer_.data(), buffer_.size(), protocol::kMaxServerBodyBytes, v);
      if (e == protocol::Error::None) {
        m.type = v.type;
        m.body.assign(v.body, v.body + v.bodyBytes);
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(v.totalBytes));
        return true;
      }
      if (e != protocol::Error::Incomplete) return false;
      if (!readMore(end)) return false;
    }
  }

  // The next message of one type, skipping others.
  bool nextOf(protocol::MessageType type, Message& m) {
    const auto end = Clock::now() + kDeadline;
    while (next(m, end)) {
      if (m.type == type) return true;
    }
    return false;
  }

  bool nextFrame(protocol::Frame& f) {
    Message m;
    if (!nextOf(protocol::MessageType::Frame, m)) return false;
    std::string detail;
    return protocol::decode(m.body.data(), m.body.size(), f, detail) == protocol::Error::None;
  }

  // Reads until the server closes the connection; answers whether it did,
  // and the reason of the goodbye it sent first, if any.
  bool closedByServer(std::string& goodbye) {
    Message m;
    while (next(m)) {
      if (m.type == protocol::MessageType::Goodbye) {
        protocol::Goodbye bye;
        std::string detail;
        protocol::decode(m.body.data(), m.body.size(), bye, detail);
        goodbye = bye.reason;
      }
    }
    return eof_;
  }

 private:
  bool readMore(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    std::string error;
    if (left.count() <= 0 || net::waitReadable(fd_, static_cast<int>(left.count()), error) != 1) {
      return false;
    }
    std::uint8_t chunk[65536];
    std::size_t n = 0;
    const net::Received r = net::receiveSome(fd_, chunk, sizeof chunk, n, error);
    if (r == net::Received::Closed || r == net::Received::Failed) eof_ = true;
    if (r != net::Received::Bytes) return r == net::Received::Again;
    buffer_.insert(buffer_.end(), chunk, chunk + n);
    return true;
  }

  int fd_ = -1;
  bool connected_ = false;
  bool eof_ = false;
  Bytes buffer_;
};

class Logged {
 public:
  void operator()(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  bool has(const std::string& text, const std::string& also = "") const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : lines_) {
      if (l.find(text) != std::string::npos && l.find(also) != std::string::npos) return true;
    }
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

struct Served {
  std::shared_ptr<Logged> log = std::make_shared<Logged>();
  std::unique_ptr<CaptureServer> server;

  explicit Served(std::shared_ptr<const Scene> scene, ServerConfig config = {}) {
    config.port = 0;
    auto sink = log;
    config.log = [sink](const std::string& line) { (*sink)(line); };
    server = std::make_unique<CaptureServer>(std::move(scene), std::move(config));
    std::string error;
    EXPECT_TRUE(server->start(error)) << error;
  }
};

std::shared_ptr<SyntheticScene> scene(const std::string& preset = "small", double fps = 240) {
  SyntheticSceneConfig c;
  c.framesPerSecond = fps;
  SyntheticSceneConfig::preset(preset, c);
  return std::make_shared<SyntheticScene>(c);
}

bool waitUntil(const std::function<bool()>& predicate) {
  const auto end = Clock::now() + kDeadline;
  while (!predicate()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// ---- What a good client receives ---------------------------------------------------

TEST(CaptureServer, GreetsAcknowledgesDescribesThenStreamsOnlyWhatWasAskedFor) {
  Served s(scene("small", 240));
  RawClient c(s.server->port());
  ASSERT_TRUE(c.connected());
  c.greet(protocol::Kind::Segments);

  Message m;
  ASSERT_TRUE(c.next(m));
  ASSERT_EQ(m.type, protocol::MessageType::ServerHello);
  protocol::ServerHello hello;
  std::string detail;
  ASSERT_EQ(protocol::decode(m.body.data(), m.body.size(), hello, detail), protocol::Error::None);
  EXPECT_EQ(hello.version, protocol::kVersion);
  EXPECT_EQ(hello.framesPerSecond, 240);

  ASSERT_TRUE(c.nextOf(protocol::MessageType::WantAck, m));
  protocol::WantAck ack;
  ASSERT_EQ(protocol::decode(m.body.data(), m.body.size(), ack, detail), protocol::Error::None);
  EXPECT_EQ(ack.sequence, 1u);
  EXPECT_EQ(ack.kinds, protocol::Kind::Segments);

  ASSERT_TRUE(c.next(m));
  ASSERT_EQ(m.type, protocol::MessageType::Description);
  protocol::Description d;
  ASSERT_EQ(protocol::decode(m.body.data(), m.body.size(), d, detail), protocol::Error::None);
  ASSERT_EQ(d.subjects.size(), 2u);

  std::uint64_t previous = 0;
  for (int i = 0; i < 5; ++i) {
    protocol::Frame f;
    ASSERT_TRUE(c.nextFrame(f));
    EXPECT_EQ(f.descriptionId, d.id);
    EXPECT_EQ(f.kinds, protocol::Kind::Segments);
    EXPECT_EQ(f.segmentCounts, (std::vector<std::uint32_t>{20, 20}));
    EXPECT_TRUE(f.markers.empty());
    EXPECT_TRUE(f.unlabeled.empty());
    if (i > 0) {
      EXPECT_GT(f.number, previous);
    }
    previous = f.number;
  }
}

TEST(CaptureServer, ResendsTheDescriptionWhenTheSceneSwitches) {
  auto synthetic = scene("small", 240);
  Served s(synthetic);
  RawClient c(s.server->port());
  c.greet(0);
  Message m;
  ASSERT_TRUE(c.nextOf(protocol::MessageType::Description, m));
  protocol::Description first;
  std::string detail;
  ASSERT_EQ(protocol::decode(m.body.data(), m.body.size(), first, detail), protocol::Error::None);
  synthetic->requestSwitch();
  ASSERT_TRUE(c.nextOf(protocol::MessageType::Description, m));
  protocol::Description second;
  ASSERT_EQ(protocol::decode(m.body.data(), m.body.size(), second, detail), protocol::Error::None);
  EXPECT_NE(second.id, first.id);
  EXPECT_EQ(second.subjects.size(), 1u);
  protocol::Frame f;
  ASSERT_TRUE(c.nextFrame(f));
  EXPECT_EQ(f.descriptionId, second.id);
}

TEST(CaptureServer, SendsHeartbeatsWhenFramesAreRare) {
  Served s(scene("small", 0.2));
  RawClient c(s.server->port());
  c.greet(protocol::Kind::All);
  Message m;
  EXPECT_TRUE(c.nextOf(protocol::MessageType::Heartbeat, m));
}

// ---- Bad clients ------------------------------------------------------------------------

struct BadClient {
  const char* name;
  Bytes (*bytes)();
  const char* reason;  // in the log line and in the goodbye
};

void PrintTo(const BadClient& row, std::ostream* os) { *os << row.name; }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes hello(std::uint16_t version = protocol::kVersion) {
  Bytes b;
  protocol::encode(protocol::ClientHello{version, "bad"}, b);
  return b;
}

const BadClient kBadClients[] = {
    {"speaks_http", [] { return Bytes{'G', 'E', 'T', ' ', '/', '\r', '\n', '\r', '\n'}; },
     "corrupt message (bad magic)"},
    {"oversized", [] { return Bytes{'O', 'B', 3, 0, 0xA0, 0x86, 0x01, 0x00}; },  // 100000 bytes
     "corrupt message (message too large)"},
    {"unknown_type", [] { return Bytes{'O', 'B', 42, 0, 0, 0, 0, 0}; },
     "corrupt message (unknown message type)"},
    {"flags_set", [] { return Bytes{'O', 'B', 8, 1, 0, 0, 0, 0}; },
     "corrupt message (bad header flags)"},
    {"asks_before_greeting",
     [] {
       Bytes b;
       protocol::encode(protocol::Want{1, protocol::Kind::All}, b);
       return b;
     },
     "asked for data before greeting"},
    {"other_version", [] { return hello(2); }, "speaks protocol version 2"},
    {"greets_twice", [] { return hello() + hello(); }, "greeted twice"},
    {"greeting_with_trailing_bytes",
     [] {
       Bytes b = hello();
       b[4] += 1;
       b.push_back(0);
       return b;
     },
     "bad greeting"},
    {"unknown_kinds",
     [] {
       Bytes b = hello();
       protocol::encode(protocol::Want{1, 0x80}, b);
       return b;
     },
     "bad request"},
    {"sends_a_server_message",
     [] {
       Bytes b = hello();
       protocol::encode(protocol::ServerHello{}, b);
       return b;
     },
     "only a server sends"},
};

class CaptureServerBadClient : public ::testing::TestWithParam<BadClient> {};

TEST_P(CaptureServerBadClient, IsDroppedWithAReasonWhileOthersStream) {
  const BadClient& row = GetParam();
  Served s(scene("small", 240));
  RawClient good(s.server->port());
  good.greet(protocol::Kind::All);
  protocol::Frame f;
  ASSERT_TRUE(good.nextFrame(f));

  RawClient bad(s.server->port());
  bad.send(row.bytes());
  std::string goodbye;
  EXPECT_TRUE(bad.closedByServer(goodbye));
  EXPECT_NE(goodbye.find(row.reason), std::string::npos) << goodbye;
  EXPECT_TRUE(waitUntil([&] { return s.log->has(row.reason, "closing the connection"); }));

  const std::uint64_t before = f.number;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(good.nextFrame(f));
  EXPECT_GT(f.number, before);
}

INSTANTIATE_TEST_SUITE_P(Cases, CaptureServerBadClient, ::testing::ValuesIn(kBadClients),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CaptureServer, AClientThatNeverGreetsIsDropped) {
  ServerConfig config;
  config.greetingTimeout = std::chrono::milliseconds(100);
  Served s(scene(), config);
  RawClient silent(s.server->port());
  std::string goodbye;
  EXPECT_TRUE(silent.closedByServer(goodbye));
  EXPECT_NE(goodbye.find("did not greet"), std::string::npos);
}

TEST(CaptureServer, AClientThatStopsReadingNeverHoldsBackTheOthers) {
  // The largest preset, fast: the stalled client's socket fills within a
  // few frames, after which its frames must be dropped, not waited for.
  Served s(scene("stage", 1000));
  RawClient stalled(s.server->port());
  stalled.greet(protocol::Kind::All);
  RawClient reader(s.server->port());
  reader.greet(protocol::Kind::All);
  protocol::Frame f;
  ASSERT_TRUE(reader.nextFrame(f));
  const std::uint64_t first = f.number;
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(reader.nextFrame(f));
  EXPECT_GE(f.number, first + 300);
  // Bounded by dropping frames, not by hanging up on it.
  EXPECT_FALSE(s.log->has("is not reading"));
  EXPECT_EQ(s.server->clientCount(), 2u);
}

TEST(CaptureServer, StoppingSaysGoodbyeToEveryClient) {
  Served s(scene());
  RawClient a(s.server->port());
  RawClient b(s.server->port());
  a.greet(protocol::Kind::All);
  b.greet(0);
  protocol::Frame f;
  ASSERT_TRUE(a.nextFrame(f));
  ASSERT_TRUE(b.nextFrame(f));
  s.server->stop();
  for (RawClient* c : {&a, &b}) {
    std::string goodbye;
    EXPECT_TRUE(c->closedByServer(goodbye));
    EXPECT_EQ(goodbye, "server shutting down");
  }
}

// ---- Scenes that cannot be served -----------------------------------------------------------

// Describes two segments, serves one (counted as `counted`): a scene bug the
// server must not pass on.
class MisfitScene : public Scene {
 public:
  explicit MisfitScene(std::uint32_t counted = 1) : counted_(counted) {}
  double framesPerSecond() const override { return 200; }
  std::shared_ptr<const protocol::Description> descriptionAt(std::uint64_t) const override {
    return description_;
  }
  void frameAt(std::uint64_t n, protocol::Frame& out) const override {
    out.number = n;
    out.segmentCounts.assign(1, counted_);
    out.segments.assign(1, {});
    out.markerCounts.assign(1, 0);
    out.markers.clear();
    out.unlabeled.clear();
  }

 private:
  std::uint32_t counted_;
  std::shared_ptr<const protocol::Description> description_ = [] {
    auto d = std::make_shared<protocol::Description>();
    d->subjects.push_back({"S", {{"A", ""}, {"B", "A"}}, {}});
    return d;
  }();
};

// Serves its own timecode, with a standard code no table knows.
class OwnTimecodeScene : public MisfitScene {
 public:
  bool providesTimecode() const override { return true; }
  void frameAt(std::uint64_t n, protocol::Frame& out) const override {
    out.number = n;
    out.segmentCounts.assign(1, 2);
    out.segments.assign(2, {});
    out.markerCounts.assign(1, 0);
    out.markers.clear();
    out.unlabeled.clear();
    out.timecode = {10, 20, 30, 12, 5};
  }
};

TEST(CaptureServer, TimecodeIsTheScenesOwnOrComputedAtTheChosenStandard) {
  struct Row {
    bool sceneHasOne;
    TimecodeStandard option;
    std::uint32_t standard;
  };
  for (const Row& row :
       {Row{true, TimecodeStandard::PAL, 5}, Row{true, TimecodeStandard::None, 5},
        Row{false, TimecodeStandard::Film, 4}, Row{false, TimecodeStandard::None, 0}}) {
    ServerConfig config;
    config.timecode = row.option;
    std::shared_ptr<const Scene> source;
    if (row.sceneHasOne) {
      source = std::make_shared<OwnTimecodeScene>();
    } else {
      source = scene("small", 240);
    }
    Served s(source, config);
    RawClient c(s.server->port());
    c.greet(0);
    protocol::Frame f;
    ASSERT_TRUE(c.nextFrame(f));
    EXPECT_EQ(f.timecode.standard, row.standard);
    if (row.sceneHasOne) {
      EXPECT_EQ(f.timecode.hours, 10u);
      EXPECT_EQ(f.timecode.frames, 12u);
    } else {
      const protocol::TimecodeValue want = timecodeAtFrame(f.number, FrameRate{240, 1}, row.option);
      EXPECT_EQ(f.timecode.seconds, want.seconds);
      EXPECT_EQ(f.timecode.frames, want.frames);
    }
  }
}

TEST(CaptureServer, FramesThatDoNotFitTheirDescriptionAreLoggedNotSent) {
  // Counts that disagree with the description, or samples that disagree
  // with the counts (which would have the encoder read past them).
  for (const auto& [counted, logged] :
       {std::pair<std::uint32_t, const char*>{1, "subject 'S' has 1 segment poses for 2 segments"},
        {2, "it holds 1 segment poses and 0 marker positions for counts of 2 and 0"}}) {
    Served s(std::make_shared<MisfitScene>(counted));
    RawClient c(s.server->port());
    c.greet(protocol::Kind::All);
    Message m;
    ASSERT_TRUE(c.nextOf(protocol::MessageType::Description, m));
    // Heartbeats keep coming instead of frames.
    ASSERT_TRUE(c.next(m));
    EXPECT_EQ(m.type, protocol::MessageType::Heartbeat);
    EXPECT_TRUE(s.log->has(logged)) << logged;
    EXPECT_EQ(s.server->framesProduced(), 0u);
  }
}

class OversizedScene : public MisfitScene {
 public:
  std::shared_ptr<const protocol::Description> descriptionAt(std::uint64_t) const override {
    auto d = std::make_shared<protocol::Description>();
    d->subjects.push_back({std::string(2000, 'x'), {}, {}});
    return d;
  }
};

TEST(CaptureServer, RefusesToStartOnAnUnservableSceneOrAddress) {
  std::string error;
  CaptureServer oversized(std::make_shared<OversizedScene>(), ServerConfig{});
  EXPECT_FALSE(oversized.start(error));
  EXPECT_NE(error.find("too long"), std::string::npos) << error;

  ServerConfig badAddress;
  badAddress.bindAddress = "not-an-ip";
  CaptureServer server(scene(), badAddress);
  EXPECT_FALSE(server.start(error));
  EXPECT_NE(error.find("'not-an-ip' is not a numeric IP address"), std::string::npos) << error;
}

TEST(CaptureServer, APortInUseIsAClearError) {
  Served first(scene());
  ServerConfig config;
  config.port = first.server->port();
  CaptureServer second(scene(), config);
  std::string error;
  EXPECT_FALSE(second.start(error));
  EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(config.port)),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("already"), std::string::npos) << error;
}

// ---- The program ---------------------------------------------------------------------------
// Run as a child process with POSIX calls and signals: Linux only.
#if !defined(_WIN32)

// Runs the server program with its output on pipes.
struct Program {
  pid_t pid = -1;
  int out = -1;
  int err = -1;

  explicit Program(std::vector<std::string> args) {
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return;
    // Built before the fork: a server thread of this process may hold the
    // allocator's lock at that moment, and the child would wait on it forever.
    args.insert(args.begin(), ORBEL_SERVER_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
      dup2(outPipe[1], 1);
      dup2(errPipe[1], 2);
      execv(ORBEL_SERVER_PROGRAM, argv.data());
      _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    out = outPipe[0];
    err = errPipe[0];
  }
  ~Program() {
    if (pid > 0 && !exited) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(out);
    close(err);
  }

  // One line of standard output, or empty at end or deadline.
  std::string line() const {
    std::string text;
    char ch = 0;
    pollfd p{out, POLLIN, 0};
    while (poll(&p, 1, 10000) == 1 && read(out, &ch, 1) == 1 && ch != '\n') text += ch;
    return text;
  }
  std::string allErrors() const {
    std::string text;
    char chunk[512];
    ssize_t n = 0;
    while ((n = read(err, chunk, sizeof chunk)) > 0)
      text.append(chunk, static_cast<std::size_t>(n));
    return text;
  }
  int wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    exited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  bool exited = false;
};

TEST(CaptureServerProgram, PrintsItsPortSwitchesOnHangupAndStopsOnSignals) {
  for (int signal : {SIGINT, SIGTERM}) {
    Program p({"--port", "0", "--scene-preset", "small"});
    const std::string first = p.line();
    ASSERT_EQ(first.rfind("listening on 127.0.0.1:", 0), 0u) << first;
    const int port = std::stoi(first.substr(first.rfind(':') + 1));
    RawClient c(static_cast<std::uint16_t>(port));
    c.greet(0);
    Message m;
    ASSERT_TRUE(c.nextOf(protocol::MessageType::Description, m));
    kill(p.pid, SIGHUP);
    ASSERT_TRUE(c.nextOf(protocol::MessageType::Description, m));  // the switched one
    kill(p.pid, signal);
    EXPECT_EQ(p.wait(), 0);
    const std::string errors = p.allErrors();
    EXPECT_NE(errors.find("client 127.0.0.1:"), std::string::npos) << errors;
    EXPECT_NE(errors.find("stopping"), std::string::npos) << errors;
  }
}

TEST(CaptureServerProgram, ExplainsWhyItCannotStart) {
  Served taken(scene());
  struct Row {
    std::vector<std::string> args;
    const char* errorHas;
  };
  const Row rows[] = {
      {{"--port", std::to_string(taken.server->port())}, "already"},
      {{"--fps", "zero"}, "frame rate 'zero'"},
      {{"--scene", "/nonexistent/scene.json"}, "/nonexistent/scene.json"},
  };
  for (const Row& row : rows) {
    Program p(row.args);
    EXPECT_NE(p.wait(), 0);
    const std::string errors = p.allErrors();
    EXPECT_NE(errors.find(row.errorHas), std::string::npos) << errors;
  }
}
#endif

}  // namespace
}  // namespace orbel::server
