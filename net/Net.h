// Socket plumbing shared by the client library and the capture server:
// address parsing, a bounded connect, a bounded send, a receive and the waits
// between. POSIX sockets on Linux, Winsock on Windows; every call answers an
// error text rather than throwing.
//
// A socket is an int on both: a Winsock SOCKET is a kernel handle, of which
// only the low 32 bits are significant, so it survives the round trip
// through int (and INVALID_SOCKET becomes -1).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orbel::net {

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

// Waits until fd has bytes to read (or the peer closed or failed: the next
// receiveSome tells which). Answers 1 when ready, 0 when timeoutMs passed,
// -1 on failure with error set. A signal's interruption is waited through.
int waitReadable(int fd, int timeoutMs, std::string& error);

enum class Received { Bytes, Closed, Again, Failed };

// One non-blocking receive of at most size bytes. Bytes: count is set;
// Closed: the peer ended the connection; Again: nothing there yet (or a
// signal interrupted); Failed: error is set.
Received receiveSome(int fd, std::uint8_t* data, std::size_t size, std::size_t& count,
                     std::string& error);

// Ends both directions; receiveSome then reports the end. A thread waiting
// in waitReadable on fd wakes at once on Linux; on Windows select does not
// report it, so waiters should wait in short slices.
void shutdownSocket(int fd);
void closeSocket(int fd);

// Shared with the capture server, which runs its own loop over the same
// sockets. startSockets readies the system's sockets once per process
// (WSAStartup on Windows; nothing elsewhere), false with error set when it
// cannot; lastSocketError is the number of the calling thread's last failed
// socket call (errno, or WSAGetLastError), socketErrorText its text.
bool startSockets(std::string& error);
int lastSocketError();
std::string socketErrorText(int error);

// Steady clock in nanoseconds: CLOCK_MONOTONIC on Linux, the clock the
// server stamps frames with (so latency is measured on one machine only);
// QueryPerformanceCounter on Windows.
std::int64_t monotonicNowNs();

}  // namespace orbel::net
