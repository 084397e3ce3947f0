#include "Net.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come first.
#include <windows.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

namespace orbel::net {

namespace {

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return static_cast<int>(left.count());
}

#if defined(_WIN32)

using NativeSocket = SOCKET;
constexpr int kSocketError = SOCKET_ERROR;

bool wouldBlock(int e) { return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS; }
bool interrupted(int e) { return e == WSAEINTR; }
constexpr int kTimedOut = WSAETIMEDOUT;

NativeSocket native(int fd) { return static_cast<NativeSocket>(static_cast<std::intptr_t>(fd)); }

NativeSocket openSocket(const addrinfo* a) {
  const NativeSocket s = WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0,
                                    WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return s;
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    const int e = WSAGetLastError();
    ::closesocket(s);
    WSASetLastError(e);
    return INVALID_SOCKET;
  }
  return s;
}

bool isOpen(NativeSocket s) { return s != INVALID_SOCKET; }

// select, not WSAPoll: WSAPoll does not report a connect that failed.
// Answers 1 (ready or failed: ask SO_ERROR), 0 (timed out) or -1.
int waitFor(NativeSocket s, bool writable, int timeoutMs) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int rc =
      select(0, writable ? nullptr : &ready, writable ? &ready : nullptr, &failed, &limit);
  if (rc == SOCKET_ERROR) return -1;
  return rc > 0 ? 1 : 0;
}

int sendSome(NativeSocket s, const std::uint8_t* data, std::size_t size) {
  const int chunk = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
  return ::send(s, reinterpret_cast<const char*>(data), chunk, 0);
}

int receiveRaw(NativeSocket s, std::uint8_t* data, std::size_t size) {
  const int chunk = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
  return ::recv(s, reinterpret_cast<char*>(data), chunk, 0);
}

void closeNative(NativeSocket s) { ::closesocket(s); }

#else

using NativeSocket = int;
constexpr int kSocketError = -1;

bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINPROGRESS; }
bool interrupted(int e) { return e == EINTR; }
constexpr int kTimedOut = ETIMEDOUT;

NativeSocket native(int fd) { return fd; }

NativeSocket openSocket(const addrinfo* a) {
  return ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
}

bool isOpen(NativeSocket s) { return s >= 0; }

int waitFor(NativeSocket s, bool writable, int timeoutMs) {
  pollfd p{s, static_cast<short>(writable ? POLLOUT : POLLIN), 0};
  const int rc = ::poll(&p, 1, timeoutMs);
  return rc < 0 ? -1 : rc;
}

ssize_t sendSome(NativeSocket s, const std::uint8_t* data, std::size_t size) {
  return ::send(s, data, size, MSG_NOSIGNAL);
}

ssize_t receiveRaw(NativeSocket s, std::uint8_t* data, std::size_t size) {
  return ::recv(s, data, size, 0);
}

void closeNative(NativeSocket s) { ::close(s); }

#endif

}  // namespace

#if defined(_WIN32)

// Winsock needs WSAStartup before its first call; it is made once per
// process and never undone (the process end releases it).
bool startSockets(std::string& error) {
  static const int started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) {
    error = "Winsock did not start (error " + std::to_string(started) + ")";
    return false;
  }
  return true;
}

int lastSocketError() { return WSAGetLastError(); }

// The system's text for a Winsock error, with its number.
std::string socketErrorText(int error) {
  char buffer[256] = {};
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "socket error";
  return text + " (" + std::to_string(error) + ")";
}

#else

bool startSockets(std::string&) { return true; }
int lastSocketError() { return errno; }
std::string socketErrorText(int error) { return std::strerror(error); }

#endif

bool parseHostPort(const std::string& text, HostPort& out, std::string& error) {
  std::string host;
  std::string port;
  if (!text.empty() && text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      error = "address '" + text + "' is not [address]:port";
      return false;
    }
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
      error = "address '" + text + "' has no ':port'";
      return false;
    }
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.find(':') != std::string::npos) {
      error = "address '" + text + "': write an IPv6 host in brackets, as [::1]:801";
      return false;
    }
  }
  if (host.empty()) {
    error = "address '" + text + "' has no host";
    return false;
  }
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos) {
    error = "port '" + port + "' is not a number";
    return false;
  }
  const long value = std::stol(port);
  if (value < 1 || value > 65535) {
    error = "port '" + port + "' is not between 1 and 65535";
    return false;
  }
  out.host = host;
  out.port = port;
  return true;
}

int connectTo(const HostPort& where, Clock::time_point deadline, ConnectError& code,
              std::string& error) {
  if (!startSockets(error)) {
    code = ConnectError::Failed;
    return -1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int gai = getaddrinfo(where.host.c_str(), where.port.c_str(), &hints, &found);
  if (gai != 0) {
    code = ConnectError::BadHost;
    error = "host '" + where.host + "' does not resolve: " + gai_strerror(gai);
    return -1;
  }
  code = ConnectError::Failed;
  error = "no address for host '" + where.host + "'";
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    const NativeSocket s = openSocket(a);
    if (!isOpen(s)) {
      error = "socket: " + socketErrorText(lastSocketError());
      continue;
    }
    int rc = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen));
    int why = rc == 0 ? 0 : lastSocketError();
    if (rc != 0 && wouldBlock(why)) {
      rc = waitFor(s, true, millisecondsUntil(deadline));
      if (rc == 1) {
        int soError = 0;
        socklen_t len = sizeof soError;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
        rc = soError == 0 ? 0 : -1;
        why = soError;
      } else {
        why = rc == 0 ? kTimedOut : lastSocketError();
        rc = -1;
      }
    }
    if (rc != 0) {
      error = "cannot connect to " + where.host + ":" + where.port + ": " + socketErrorText(why);
      closeNative(s);
      continue;
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    fd = static_cast<int>(s);
  }
  freeaddrinfo(found);
  if (fd >= 0) {
    code = ConnectError::None;
    error.clear();
  }
  return fd;
}

bool sendAll(int fd, const std::uint8_t* data, std::size_t size, Clock::time_point deadline,
             std::string& error) {
  const NativeSocket s = native(fd);
  while (size > 0) {
    const auto n = sendSome(s, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    const int why = n == kSocketError ? lastSocketError() : 0;
    if (n == kSocketError && interrupted(why)) continue;
    if (n == kSocketError && wouldBlock(why)) {
      if (waitFor(s, true, millisecondsUntil(deadline)) == 0) {
        error = "the server stopped reading";
        return false;
      }
      continue;
    }
    error =
        "send: " + (n == kSocketError ? socketErrorText(why) : std::string("connection closed"));
    return false;
  }
  return true;
}

int waitReadable(int fd, int timeoutMs, std::string& error) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const int rc = waitFor(native(fd), false, millisecondsUntil(deadline));
    if (rc >= 0) return rc;
    const int why = lastSocketError();
    if (interrupted(why)) continue;
    error = "waiting for data: " + socketErrorText(why);
    return -1;
  }
}

Received receiveSome(int fd, std::uint8_t* data, std::size_t size, std::size_t& count,
                     std::string& error) {
  const auto n = receiveRaw(native(fd), data, size);
  if (n > 0) {
    count = static_cast<std::size_t>(n);
    return Received::Bytes;
  }
  if (n == 0) return Received::Closed;
  const int why = lastSocketError();
  if (wouldBlock(why) || interrupted(why)) return Received::Again;
  error = "recv: " + socketErrorText(why);
  return Received::Failed;
}

void shutdownSocket(int fd) {
#if defined(_WIN32)
  ::shutdown(native(fd), SD_BOTH);
#else
  ::shutdown(fd, SHUT_RDWR);
#endif
}

void closeSocket(int fd) { closeNative(native(fd)); }

std::int64_t monotonicNowNs() {
#if defined(_WIN32)
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
#else
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
#endif
}

}  // namespace orbel::net
