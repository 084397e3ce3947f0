// What one message from a client asks of the server, decoded and judged
// against where that client's conversation stands. Kept apart from the event
// loop, which only acts on the answer, so that every judgement can be
// checked (and fuzzed) without a socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orbel::server {

struct ClientRequest {
  enum class Action {
    Wait,    // no whole message yet: read more bytes
    Greet,   // a valid greeting: answer with the server's own
    Serve,   // a valid Want: serve `kinds` from now on and acknowledge `sequence`
    Leave,   // the client said goodbye; `text` is its reason, possibly empty
    Ignore,  // a heartbeat: nothing to do
    Refuse,  // close the connection; `text` says why, for the log and the goodbye
  };
  Action action = Action::Wait;
  std::size_t bytes = 0;  // how many bytes the message takes; 0 with Wait
  std::uint32_t sequence = 0;
  std::uint8_t kinds = 0;
  std::string text;
};

// Judges the message at the start of data (size bytes) from a client that
// has greeted or not. Wait is answered only while the bytes are a valid
// beginning of a message no longer than the client-to-server limit.
ClientRequest nextClientRequest(const std::uint8_t* data, std::size_t size, bool greeted);

}  // namespace orbel::server
