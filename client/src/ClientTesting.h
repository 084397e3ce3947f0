// Test-only access to a client's inner counters. Not part of the library's
// contract; tests include it from the source tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "OrbelDataStreamSDK/Client.h"

namespace OrbelDataStreamSDK::CPP {

struct ORBEL_CLIENT_API ClientTestAccess {
  // Bytes read from the server since the client was created.
  static std::uint64_t bytesReceived(const Client& client);
  // Frames decoded by the receive thread, taken or not.
  static std::uint64_t framesReceived(const Client& client);
  // Why the last connection ended or failed, as a user would read it.
  static std::string lastErrorText(const Client& client);
  static Result::Enum lastError(const Client& client);
  // How many frame states the client has made for its queries to read.
  static std::size_t takenStates(const Client& client);
};

}  // namespace OrbelDataStreamSDK::CPP
