// The client against servers that misbehave: garbage, lies about lengths
// and counts, wrong versions, silence. Each must end the connection with a
// clear result, never crash or hang the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <random>
#include <thread>

#include "ClientTesting.h"
#include "Net.h"
#include "fixture_messages.h"
#include "orbel/protocol/messages.h"
#include "sockets.h"
#include "test_scenes.h"

namespace orbel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace Result = sdk::Result;

// Accepts one connection on 127.0.0.1 and runs a script on it in a thread.
class FakeServer {
 public:
  explicit FakeServer(std::function<void(int)> script) {
    std::string error;
    listenFd_ = server::listenOn("127.0.0.1", 0, port_, error);
    thread_ = std::thread([this, script = std::move(script)] {
      // In short waits: closing a socket wakes no waiter on Windows.
      std::string ignored;
      for (int waited = 0; waited < 10000 && !stopping_; waited += 50) {
        if (net::waitReadable(listenFd_, 50, ignored) != 1) continue;
        server::Peer peer;
        if (server::acceptPeer(listenFd_, peer, ignored) != server::Accepted::Peer) return;
        script(peer.fd);
        net::closeSocket(peer.fd);
        return;
      }
    });
  }
  ~FakeServer() {
    stopping_ = true;
    thread_.join();
    net::closeSocket(listenFd_);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

// Reads until the client's greeting is in; false if it never comes.
bool readGreeting(int fd) {
  Bytes in(4096);
  std::size_t used = 0;
  for (;;) {
    protocol::MessageView m;
    if (protocol::splitMessage(in.data(), used, protocol::kMaxClientBodyBytes, m) ==
        protocol::Error::None) {
      return m.type == protocol::MessageType::ClientHello;
    }
    std::string error;
    std::size_t n = 0;
    if (net::waitReadable(fd, 5000, error) != 1) return false;
    const net::Received r = net::receiveSome(fd, in.data() + used, in.size() - used, n, error);
    if (r != net::Received::Bytes && r != net::Received::Again) return false;
    used += n;
  }
}

void sendBytes(int fd, const Bytes& b) {
  std::string ignored;
  net::sendAll(fd, b.data(), b.size(), std::chrono::steady_clock::now() + std::chrono::seconds(10),
               ignored);
}

// Keeps the connection open until the client closes it (or a long while).
void holdOpen(int fd) {
  std::uint8_t sink[4096];
  std::string error;
  std::size_t n = 0;
  while (net::waitReadable(fd, 10000, error) == 1) {
    const net::Received r = net::receiveSome(fd, sink, sizeof sink, n, error);
    if (r != net::Received::Bytes && r != net::Received::Again) return;
  }
}

Bytes hello(std::uint16_t version = protocol::kVersion) {
  Bytes b;
  protocol::encode(protocol::ServerHello{version, 120, "fake"}, b);
  return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes description() {
  Bytes b;
  protocol::encode(protocol::fixtures::sampleDescription(), b);
  return b;
}

Bytes frame(std::uint32_t descriptionId = 7, std::vector<std::uint32_t> segmentCounts = {3, 0, 0}) {
  protocol::Frame f = protocol::fixtures::sampleFrame();
  f.descriptionId = descriptionId;
  f.segmentCounts = std::move(segmentCounts);
  Bytes b;
  protocol::encode(f, protocol::Kind::All, b);
  return b;
}

struct Scenario {
  const char* name;
  std::function<Bytes()> afterGreeting;  // what the fake server answers
  Result::Enum connectResult;
  Result::Enum endResult;  // why the connection ends
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const Scenario& row, std::ostream* os) { *os << row.name; }

const Scenario kScenarios[] = {
    {"garbage_after_hello", [] { return hello() + Bytes{'g', 'a', 'r', 'b', 'a', 'g', 'e', '!'}; },
     Result::Success, Result::ProtocolError},
    {"length_of_4_GiB", [] { return hello() + Bytes{'O', 'B', 6, 0, 0xF0, 0xFF, 0xFF, 0xFF}; },
     Result::Success, Result::ProtocolError},
    {"frame_before_any_description", [] { return hello() + frame(); }, Result::Success,
     Result::ProtocolError},
    {"frame_naming_another_description", [] { return hello() + description() + frame(8); },
     Result::Success, Result::ProtocolError},
    {"frame_not_laid_out_as_described",
     [] {
       return hello() + description() + frame(7, {2, 1, 0});
     },
     Result::Success, Result::ProtocolError},
    {"frame_missing_a_subject",
     [] {
       return hello() + description() + frame(7, {3, 0});
     },
     Result::Success, Result::ProtocolError},
    {"client_message_from_server",
     [] {
       Bytes b;
       protocol::encode(protocol::Want{1, 1}, b);
       return hello() + b;
     },
     Result::Success, Result::ProtocolError},
    {"second_greeting", [] { return hello() + hello(); }, Result::Success, Result::ProtocolError},
    {"closed_after_hello", [] { return hello(); }, Result::Success, Result::NotConnected},
    {"goodbye_after_hello",
     [] {
       Bytes b;
       protocol::encode(protocol::Goodbye{"maintenance"}, b);
       return hello() + b;
     },
     Result::Success, Result::NotConnected},
    {"other_protocol_version", [] { return hello(2); }, Result::ProtocolError,
     Result::ProtocolError},
    {"goodbye_instead_of_hello",
     [] {
       Bytes b;
       protocol::encode(protocol::Goodbye{"too many clients"}, b);
       return b;
     },
     Result::ConnectionFailed, Result::ConnectionFailed},
    {"garbage_instead_of_hello", [] { return Bytes{'H', 'T', 'T', 'P', '/', '1', '.', '1'}; },
     Result::ProtocolError, Result::ProtocolError},
    {"frame_instead_of_hello", [] { return frame(); }, Result::ProtocolError,
     Result::ProtocolError},
};

class HostileServer : public ::testing::TestWithParam<Scenario> {};

TEST_P(HostileServer, EndsTheConnectionWithAClearResult) {
  const Scenario& s = GetParam();
  FakeServer fake([&](int fd) {
    if (!readGreeting(fd)) return;
    sendBytes(fd, s.afterGreeting());
    // Closing at once would hide protocol errors behind a plain EOF.
    if (s.endResult != Result::NotConnected) holdOpen(fd);
  });
  sdk::Client c;
  EXPECT_EQ(c.Connect(fake.address()).Result, s.connectResult);
  EXPECT_TRUE(waitUntil([&] { return !c.IsConnected().Connected; }));
  EXPECT_EQ(sdk::ClientTestAccess::lastError(c), s.endResult)
      << sdk::ClientTestAccess::lastErrorText(c);
  EXPECT_FALSE(sdk::ClientTestAccess::lastErrorText(c).empty());
  c.Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Scenarios, HostileServer, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HostileServerTiming, AServerThatNeverGreetsFailsTheConnect) {
  FakeServer fake([](int fd) { holdOpen(fd); });
  sdk::Client c;
  EXPECT_EQ(c.Connect(fake.address()).Result, Result::ConnectionFailed);
  EXPECT_FALSE(c.IsConnected().Connected);
}

TEST(HostileServerTiming, AServerThatFallsSilentCountsAsGone) {
  FakeServer fake([](int fd) {
    if (!readGreeting(fd)) return;
    sendBytes(fd, hello());
    holdOpen(fd);
  });
  sdk::Client c;
  ASSERT_EQ(c.Connect(fake.address()).Result, Result::Success);
  EXPECT_TRUE(waitUntil([&] { return !c.IsConnected().Connected; }));
  EXPECT_NE(sdk::ClientTestAccess::lastErrorText(c).find("silent"), std::string::npos);
}

TEST(HostileServerFuzz, RandomAndMutatedStreamsNeverCrashTheClient) {
  std::mt19937 rng(77);
  const auto seeds = protocol::fixtures::all();
  for (int round = 0; round < 60; ++round) {
    Bytes stream = hello() + description();
    for (int m = 0; m < 8; ++m) {
      Bytes piece = seeds[rng() % seeds.size()].bytes;
      if (rng() % 2 && !piece.empty())
        piece[rng() % piece.size()] = static_cast<std::uint8_t>(rng());
      stream = stream + piece;
    }
    FakeServer fake([&](int fd) {
      if (readGreeting(fd)) sendBytes(fd, stream);
    });
    sdk::Client c;
    if (c.Connect(fake.address()).Result == Result::Success) {
      c.GetFrame();
      c.GetSubjectCount();
      EXPECT_TRUE(waitUntil([&] { return !c.IsConnected().Connected; }));
    }
    c.Disconnect();
  }
}

}  // namespace
}  // namespace orbel::testing
