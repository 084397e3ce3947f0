// Bytes from a client, judged as the capture server judges them: message by
// message, with the client-to-server size limit and the greeting rules,
// until the server would close the connection.
//
// Beyond not crashing: a request that is served must re-encode to exactly
// its own bytes, the server's answers must decode on the client's side to
// what was asked, and the server must never wait for more bytes than its
// input buffer can hold, which would leave that client hanging.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "client_requests.h"
#include "fuzz_check.h"
#include "orbel/protocol/messages.h"

namespace {

namespace protocol = orbel::protocol;
using orbel::fuzz::check;
using Action = orbel::server::ClientRequest::Action;

// The server reads each client into a buffer of this size.
constexpr std::size_t kServerInputBytes = protocol::kHeaderBytes + protocol::kMaxClientBodyBytes;

// Splits one message the server sent and decodes it as the client would.
template <typename Message>
Message answerAsClientReadsIt(const std::vector<std::uint8_t>& bytes) {
  protocol::MessageView view;
  check(protocol::splitMessage(bytes.data(), bytes.size(), protocol::kMaxServerBodyBytes, view) ==
                protocol::Error::None &&
            view.totalBytes == bytes.size(),
        "the server's answer does not split as one message");
  Message m;
  std::string detail;
  check(protocol::decode(view.body, view.bodyBytes, m, detail) == protocol::Error::None,
        "the server's answer does not decode");
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bool greeted = false;
  std::size_t offset = 0;
  for (;;) {
    const std::size_t left = size - offset;
    const orbel::server::ClientRequest r =
        orbel::server::nextClientRequest(data + offset, left, greeted);
    if (r.action == Action::Wait) {
      check(r.bytes == 0, "waiting after taking bytes");
      check(left < kServerInputBytes, "waiting for more bytes than the server's buffer holds");
      break;
    }
    check(r.action == Action::Refuse || (r.bytes >= protocol::kHeaderBytes && r.bytes <= left),
          "a request reaches past the bytes given");
    std::vector<std::uint8_t> answer;
    switch (r.action) {
      case Action::Wait:
        break;
      case Action::Greet: {
        check(!greeted, "greeted twice without refusal");
        greeted = true;
        protocol::encode(protocol::ServerHello{protocol::kVersion, 120.0, "fuzz"}, answer);
        const auto hello = answerAsClientReadsIt<protocol::ServerHello>(answer);
        check(hello.version == protocol::kVersion, "the server's greeting lost its version");
        break;
      }
      case Action::Serve: {
        check(greeted, "served a client that never greeted");
        std::vector<std::uint8_t> again;
        protocol::encode(protocol::Want{r.sequence, r.kinds}, again);
        check(again.size() == r.bytes && std::equal(again.begin(), again.end(), data + offset),
              "a served request re-encodes to other bytes");
        protocol::encode(protocol::WantAck{r.sequence, r.kinds}, answer);
        const auto ack = answerAsClientReadsIt<protocol::WantAck>(answer);
        check(ack.sequence == r.sequence && ack.kinds == r.kinds,
              "the acknowledgement names another request");
        break;
      }
      case Action::Leave:
      case Action::Ignore:
        break;
      case Action::Refuse: {
        check(!r.text.empty(), "a refusal without a reason");
        // The reason goes back to the client in a goodbye it must be able to read.
        protocol::encode(protocol::Goodbye{r.text}, answer);
        const auto bye = answerAsClientReadsIt<protocol::Goodbye>(answer);
        check(!bye.reason.empty() && r.text.compare(0, bye.reason.size(), bye.reason) == 0,
              "the goodbye does not carry the refusal's reason");
        break;
      }
    }
    if (r.action == Action::Refuse || r.action == Action::Leave) break;
    offset += r.bytes;
  }
  return 0;
}
