// fbhost/messages.h: the host's message channel: what the host tells the
// user about problems it met on its own (a corrupt settings file, a scene
// file it refused, a handler that threw).
//
// Side of the boundary: host runtime. Link fbsdk::runtime. Thread-safe.
//
// Every message is printed on stderr as one line ("orbel-host: warning: ...")
// unless echo is off, and appended to a record that host programs and tests
// read. A message quotes the bad input and names the file it came from.
#pragma once

#include <string>
#include <vector>

#include "fbsdk/fbsdk_api.h"

namespace fbhost {

enum class MessageLevel { Info, Warning, Error };

struct HostMessage {
  MessageLevel level = MessageLevel::Info;
  std::string text;
};

// Records one message (and prints it, see SetMessageEcho).
FBSDK_API void ReportMessage(MessageLevel level, const std::string& text);

// Every message recorded since the start or the last ClearMessages.
FBSDK_API std::vector<HostMessage> Messages();
FBSDK_API void ClearMessages();

// Whether each message is also printed on stderr. Default: on.
FBSDK_API void SetMessageEcho(bool on);

}  // namespace fbhost
