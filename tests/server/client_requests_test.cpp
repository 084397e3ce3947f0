// How the server judges what a client sends, one message at a time, before
// and after the greeting. The server's loop only acts on these answers.
#include "client_requests.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "orbel/protocol/messages.h"

namespace orbel::server {
namespace {

namespace protocol = orbel::protocol;
using Action = ClientRequest::Action;
using Bytes = std::vector<std::uint8_t>;

Bytes hello(std::uint16_t version = protocol::kVersion) {
  Bytes b;
  protocol::encode(protocol::ClientHello{version, "test"}, b);
  return b;
}
Bytes want(std::uint32_t sequence, std::uint8_t kinds) {
  Bytes b;
  protocol::encode(protocol::Want{sequence, kinds}, b);
  return b;
}
Bytes goodbye(const std::string& reason) {
  Bytes b;
  protocol::encode(protocol::Goodbye{reason}, b);
  return b;
}
Bytes heartbeat() {
  Bytes b;
  protocol::encodeHeartbeat(b);
  return b;
}
Bytes ack() {
  Bytes b;
  protocol::encode(protocol::WantAck{1, 1}, b);
  return b;
}
// A header that announces a body of `length` bytes, and that body.
Bytes withBody(protocol::MessageType type, std::uint32_t length) {
  Bytes b = {'O',
             'B',
             static_cast<std::uint8_t>(type),
             0,
             static_cast<std::uint8_t>(length),
             static_cast<std::uint8_t>(length >> 8),
             static_cast<std::uint8_t>(length >> 16),
             static_cast<std::uint8_t>(length >> 24)};
  b.resize(b.size() + length, 0);
  return b;
}

struct Case {
  const char* name;
  Bytes bytes;
  bool greeted;
  Action action;
  std::string text;  // a part of the refusal's reason, or the goodbye's reason
};

std::vector<Case> cases() {
  Bytes badKinds = want(3, 1);
  badKinds.back() = 0x10;
  Bytes wantWithTrailing = want(3, 1);
  wantWithTrailing[4] += 1;
  wantWithTrailing.push_back(0);
  Bytes badMagic = hello();
  badMagic[0] = 'X';
  return {
      {"greeting", hello(), false, Action::Greet, ""},
      {"greeting_twice", hello(), true, Action::Refuse, "greeted twice"},
      {"greeting_of_another_version", hello(2), false, Action::Refuse,
       "speaks protocol version 2; this server speaks 1"},
      {"want_after_greeting", want(9, 3), true, Action::Serve, ""},
      {"want_before_greeting", want(9, 3), false, Action::Refuse, "before greeting"},
      {"want_with_unknown_kinds", badKinds, true, Action::Refuse, "kinds 16 has unknown bits"},
      {"want_with_trailing_bytes", wantWithTrailing, true, Action::Refuse, "after the last field"},
      {"goodbye_with_reason", goodbye("done"), false, Action::Leave, "done"},
      {"goodbye_cut_short_still_leaves", withBody(protocol::MessageType::Goodbye, 1), true,
       Action::Leave, ""},
      {"heartbeat", heartbeat(), true, Action::Ignore, ""},
      {"heartbeat_with_a_body", withBody(protocol::MessageType::Heartbeat, 2), true, Action::Refuse,
       "bad heartbeat"},
      {"message_only_a_server_sends", ack(), true, Action::Refuse, "type 4, which only a server"},
      {"bad_magic", badMagic, false, Action::Refuse, "corrupt message (bad magic)"},
      {"body_above_the_limit", withBody(protocol::MessageType::Want, 4097), true, Action::Refuse,
       "message too large"},
      {"body_at_the_limit", withBody(protocol::MessageType::Goodbye, 4096), true, Action::Leave,
       ""},
      {"header_cut_short", Bytes{'O', 'B', 3}, true, Action::Wait, ""},
      {"nothing_yet", Bytes{}, false, Action::Wait, ""},
  };
}

class ClientRequestTest : public testing::TestWithParam<Case> {};

TEST_P(ClientRequestTest, JudgesTheMessage) {
  const Case& c = GetParam();
  const ClientRequest r = nextClientRequest(c.bytes.data(), c.bytes.size(), c.greeted);
  EXPECT_EQ(r.action, c.action);
  EXPECT_NE(r.text.find(c.text), std::string::npos) << r.text;
  if (r.action == Action::Wait) {
    EXPECT_EQ(r.bytes, 0u);
  } else if (r.action != Action::Refuse) {
    EXPECT_EQ(r.bytes, c.bytes.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Messages, ClientRequestTest, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

TEST(ClientRequest, ServesTheKindsAskedForWithTheirSequence) {
  const Bytes b = want(0xDEADBEEF, protocol::Kind::All);
  const ClientRequest r = nextClientRequest(b.data(), b.size(), true);
  ASSERT_EQ(r.action, Action::Serve);
  EXPECT_EQ(r.sequence, 0xDEADBEEFu);
  EXPECT_EQ(r.kinds, protocol::Kind::All);
}

TEST(ClientRequest, TakesOneMessageAtATimeFromAStream) {
  Bytes stream = hello();
  const std::size_t first = stream.size();
  const Bytes w = want(1, 1);
  stream.insert(stream.end(), w.begin(), w.end());
  const ClientRequest r = nextClientRequest(stream.data(), stream.size(), false);
  EXPECT_EQ(r.action, Action::Greet);
  EXPECT_EQ(r.bytes, first);
  const ClientRequest next = nextClientRequest(stream.data() + first, stream.size() - first, true);
  EXPECT_EQ(next.action, Action::Serve);
}

}  // namespace
}  // namespace orbel::server
