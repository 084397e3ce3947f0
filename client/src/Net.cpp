#include "Net.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orbel::client {

namespace {

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return static_cast<int>(left.count());
}

std::string errnoText(int e) { return std::strerror(e); }

}  // namespace

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
    int s = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (s < 0) {
      error = "socket: " + errnoText(errno);
      continue;
    }
    int rc = connect(s, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd p{s, POLLOUT, 0};
      rc = poll(&p, 1, millisecondsUntil(deadline));
      if (rc == 1) {
        int soError = 0;
        socklen_t len = sizeof soError;
        getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len);
        rc = soError == 0 ? 0 : -1;
        errno = soError;
      } else {
        if (rc == 0) errno = ETIMEDOUT;
        rc = -1;
      }
    }
    if (rc != 0) {
      error = "cannot connect to " + where.host + ":" + where.port + ": " + errnoText(errno);
      close(s);
      continue;
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd = s;
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
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      const int rc = poll(&p, 1, millisecondsUntil(deadline));
      if (rc == 0) {
        error = "the server stopped reading";
        return false;
      }
      continue;
    }
    error = "send: " + errnoText(n < 0 ? errno : EPIPE);
    return false;
  }
  return true;
}

std::int64_t monotonicNowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace orbel::client
