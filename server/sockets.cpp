#include "sockets.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <vector>

#include "Net.h"

namespace orbel::server {

using net::closeSocket;
using net::lastSocketError;
using net::socketErrorText;

namespace {

#if defined(_WIN32)

using NativeSocket = SOCKET;
using PollEntry = WSAPOLLFD;
NativeSocket native(int fd) { return static_cast<NativeSocket>(static_cast<std::intptr_t>(fd)); }
bool wouldBlock(int e) { return e == WSAEWOULDBLOCK || e == WSAEINTR; }
bool lostOnTheWay(int e) { return e == WSAECONNRESET || e == WSAECONNABORTED; }
constexpr int kAccessDenied = WSAEACCES;
constexpr int kAddressInUse = WSAEADDRINUSE;

bool makeNonBlocking(NativeSocket s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

#else

using NativeSocket = int;
using PollEntry = pollfd;
NativeSocket native(int fd) { return fd; }
bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK || e == EINTR; }
bool lostOnTheWay(int e) { return e == ECONNABORTED || e == EPROTO || e == EPERM; }
constexpr int kAccessDenied = EACCES;
constexpr int kAddressInUse = EADDRINUSE;

#endif

void setOption(NativeSocket s, int level, int name) {
  const int one = 1;
  setsockopt(s, level, name, reinterpret_cast<const char*>(&one), sizeof one);
}

}  // namespace

int listenOn(const std::string& address, std::uint16_t port, std::uint16_t& boundPort,
             std::string& error) {
  const std::string where =
      (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" +
      std::to_string(port);
  if (!net::startSockets(error)) {
    error = "cannot listen on " + where + ": " + error;
    return -1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    error = "cannot listen on " + where + ": '" + address + "' is not a numeric IP address";
    return -1;
  }
#if defined(_WIN32)
  NativeSocket s = WSASocketW(found->ai_family, found->ai_socktype, found->ai_protocol, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s != INVALID_SOCKET && !makeNonBlocking(s)) {
    const int e = lastSocketError();
    ::closesocket(s);
    WSASetLastError(e);
    s = INVALID_SOCKET;
  }
  const bool opened = s != INVALID_SOCKET;
  // Windows lets a second program bind a port taken with SO_REUSEADDR;
  // this option makes the port ours alone, as it is on Linux.
  if (opened) setOption(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE);
#else
  const NativeSocket s = ::socket(
      found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, found->ai_protocol);
  const bool opened = s >= 0;
  // A restarted server takes its port back while old connections linger.
  if (opened) setOption(s, SOL_SOCKET, SO_REUSEADDR);
#endif
  if (!opened) {
    error = "cannot listen on " + where + ": " + socketErrorText(lastSocketError());
    freeaddrinfo(found);
    return -1;
  }
  // The longest queue the system allows: a burst of clients (a studio's
  // machines starting at once) waits there instead of retrying a second
  // later.
  const bool listening = ::bind(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0 &&
                         ::listen(s, SOMAXCONN) == 0;
  freeaddrinfo(found);
  if (!listening) {
    const int e = lastSocketError();
    error = "cannot listen on " + where + ": " + socketErrorText(e);
    if (e == kAccessDenied && port < 1024) {
      error += " (ports below 1024 need administrator rights; choose a port above 1023)";
    } else if (e == kAddressInUse) {
      error += " (another program already serves that port)";
    }
    closeSocket(static_cast<int>(s));
    return -1;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);
  boundPort = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  return static_cast<int>(s);
}

Accepted acceptPeer(int listenFd, Peer& peer, std::string& error) {
  sockaddr_storage addr{};
  socklen_t length = sizeof addr;
#if defined(_WIN32)
  NativeSocket s = ::accept(native(listenFd), reinterpret_cast<sockaddr*>(&addr), &length);
  if (s != INVALID_SOCKET && !makeNonBlocking(s)) {
    const int e = lastSocketError();
    ::closesocket(s);
    WSASetLastError(e);
    s = INVALID_SOCKET;
  }
  const bool accepted = s != INVALID_SOCKET;
#else
  const NativeSocket s =
      accept4(listenFd, reinterpret_cast<sockaddr*>(&addr), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  const bool accepted = s >= 0;
#endif
  if (!accepted) {
    const int e = lastSocketError();
    if (wouldBlock(e)) return Accepted::None;
    if (lostOnTheWay(e)) return Accepted::Lost;
    error = socketErrorText(e);
    return Accepted::Exhausted;
  }
  setOption(s, IPPROTO_TCP, TCP_NODELAY);
  peer.fd = static_cast<int>(s);

  char host[NI_MAXHOST] = "?";
  char service[NI_MAXSERV] = "?";
  getnameinfo(reinterpret_cast<const sockaddr*>(&addr), length, host, sizeof host, service,
              sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
  const bool v6 = addr.ss_family == AF_INET6;
  peer.name = v6 ? std::string("[") + host + "]:" + service : std::string(host) + ":" + service;
  peer.addressBytes = v6 ? 16 : 4;
  std::memcpy(
      peer.address,
      v6 ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr)
         : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr),
      peer.addressBytes);
  return Accepted::Peer;
}

long sendNow(int fd, const std::uint8_t* data, std::size_t size, std::string& error) {
  for (;;) {
#if defined(_WIN32)
    const int chunk = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
    const long n = ::send(native(fd), reinterpret_cast<const char*>(data), chunk, 0);
#else
    const long n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
#endif
    if (n > 0) return n;
    const int e = n < 0 ? lastSocketError() : 0;
#if !defined(_WIN32)
    if (e == EINTR) continue;
#endif
    if (n < 0 && wouldBlock(e)) return 0;
    error = n < 0 ? socketErrorText(e) : "connection closed";
    return -1;
  }
}

void shutdownSending(int fd) {
#if defined(_WIN32)
  ::shutdown(native(fd), SD_SEND);
#else
  ::shutdown(fd, SHUT_WR);
#endif
}

struct SocketWait::Entries {
  std::vector<PollEntry> polled;
};

SocketWait::SocketWait() : entries_(std::make_unique<Entries>()) {}
SocketWait::~SocketWait() = default;

void SocketWait::clear() { entries_->polled.clear(); }

std::size_t SocketWait::add(int fd, bool write) {
  PollEntry entry{};
  entry.fd = native(fd);
  entry.events = static_cast<short>(POLLIN | (write ? POLLOUT : 0));
  entries_->polled.push_back(entry);
  return entries_->polled.size() - 1;
}

bool SocketWait::wait(std::chrono::nanoseconds timeout, std::string& error) {
  std::vector<PollEntry>& polled = entries_->polled;
#if defined(_WIN32)
  // Whole milliseconds, rounded up: a wait rounded down to nothing would
  // spin until the next frame is due.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
  const int rc = WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), static_cast<INT>(ms));
#else
  const auto ns = timeout.count();
  const timespec limit{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  const int rc = ppoll(polled.data(), polled.size(), &limit, nullptr);
#endif
  if (rc >= 0) return true;
  const int e = lastSocketError();
#if !defined(_WIN32)
  if (e == EINTR) return true;
#endif
  error = socketErrorText(e);
  return false;
}

bool SocketWait::readable(std::size_t index) const {
  return (entries_->polled[index].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

bool SocketWait::writable(std::size_t index) const {
  return (entries_->polled[index].revents & POLLOUT) != 0;
}

Wakeup::~Wakeup() {
#if defined(_WIN32)
  if (fd_ >= 0) closeSocket(fd_);
#else
  if (fd_ >= 0) ::close(fd_);
#endif
}

#if defined(_WIN32)

bool Wakeup::open(std::string& error) {
  if (!net::startSockets(error)) return false;
  const NativeSocket s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                    WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    error = socketErrorText(lastSocketError());
    return false;
  }
  // Connected to itself on loopback: only its own datagrams arrive.
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof self;
  if (::bind(s, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 || !makeNonBlocking(s)) {
    error = socketErrorText(lastSocketError());
    ::closesocket(s);
    return false;
  }
  fd_ = static_cast<int>(s);
  return true;
}

void Wakeup::signal() {
  const char one = 1;
  ::send(native(fd_), &one, 1, 0);
}

void Wakeup::drain() {
  char sink[16];
  while (::recv(native(fd_), sink, sizeof sink, 0) > 0) {
  }
}

#else

bool Wakeup::open(std::string& error) {
  fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd_ < 0) error = std::strerror(errno);
  return fd_ >= 0;
}

void Wakeup::signal() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void Wakeup::drain() {
  std::uint64_t drained = 0;
  [[maybe_unused]] const ssize_t n = ::read(fd_, &drained, sizeof drained);
}

#endif

}  // namespace orbel::server
