#include "client_requests.h"

#include "orbel/protocol/messages.h"

namespace orbel::server {

namespace protocol = orbel::protocol;

ClientRequest nextClientRequest(const std::uint8_t* data, std::size_t size, bool greeted) {
  ClientRequest r;
  protocol::MessageView m;
  const protocol::Error e = protocol::splitMessage(data, size, protocol::kMaxClientBodyBytes, m);
  if (e == protocol::Error::Incomplete) return r;
  auto refuse = [&r](std::string why) {
    r.action = ClientRequest::Action::Refuse;
    r.text = std::move(why);
    return r;
  };
  if (e != protocol::Error::None) {
    return refuse(std::string("sent a corrupt message (") + protocol::errorName(e) + ")");
  }
  r.bytes = m.totalBytes;
  std::string detail;
  switch (m.type) {
    case protocol::MessageType::ClientHello: {
      if (greeted) return refuse("greeted twice");
      protocol::ClientHello hello;
      if (protocol::decode(m.body, m.bodyBytes, hello, detail) != protocol::Error::None) {
        return refuse("sent a bad greeting: " + detail);
      }
      if (hello.version != protocol::kVersion) {
        return refuse("speaks protocol version " + std::to_string(hello.version) +
                      "; this server speaks " + std::to_string(protocol::kVersion));
      }
      r.action = ClientRequest::Action::Greet;
      return r;
    }
    case protocol::MessageType::Want: {
      if (!greeted) return refuse("asked for data before greeting");
      protocol::Want want;
      if (protocol::decode(m.body, m.bodyBytes, want, detail) != protocol::Error::None) {
        return refuse("sent a bad request: " + detail);
      }
      r.action = ClientRequest::Action::Serve;
      r.sequence = want.sequence;
      r.kinds = want.kinds;
      return r;
    }
    case protocol::MessageType::Goodbye: {
      // A client on its way out is let go whatever its reason looks like;
      // the part of the reason that decoded still goes to the log.
      protocol::Goodbye bye;
      protocol::decode(m.body, m.bodyBytes, bye, detail);
      r.action = ClientRequest::Action::Leave;
      r.text = std::move(bye.reason);
      return r;
    }
    case protocol::MessageType::Heartbeat:
      if (protocol::decodeHeartbeat(m.body, m.bodyBytes, detail) != protocol::Error::None) {
        return refuse("sent a bad heartbeat: " + detail);
      }
      r.action = ClientRequest::Action::Ignore;
      return r;
    case protocol::MessageType::ServerHello:
    case protocol::MessageType::WantAck:
    case protocol::MessageType::Description:
    case protocol::MessageType::Frame:
      return refuse("sent a message of type " + std::to_string(static_cast<int>(m.type)) +
                    ", which only a server sends");
  }
  return refuse("sent a message of type " + std::to_string(static_cast<int>(m.type)));
}

}  // namespace orbel::server
