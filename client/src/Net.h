// Socket plumbing for the client: address parsing, a bounded connect and a
// bounded send. Plain POSIX; every call answers an error text rather than
// throwing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orbel::client {

using Clock = std::chrono::steady_clock;

struct HostPort {
  std::string host;
  std::string port;
};

// "host:port", "[v6-address]:port". The port is a decimal number 1..65535.
// On failure answers false and sets error to a message quoting the input.
bool parseHostPort(const std::string& text, HostPort& out, std::string& error);

enum class ConnectError { None, BadHost, Failed };

// Resolves and connects, trying each resolved address once until deadline.
// The answered socket is non-blocking with TCP_NODELAY set.
int connectTo(const HostPort& where, Clock::time_point deadline, ConnectError& code,
              std::string& error);

// Sends every byte or fails: false when the peer is gone or the socket stays
// full until deadline.
bool sendAll(int fd, const std::uint8_t* data, std::size_t size, Clock::time_point deadline,
             std::string& error);

// CLOCK_MONOTONIC in nanoseconds, the clock the server stamps frames with.
std::int64_t monotonicNowNs();

}  // namespace orbel::client
