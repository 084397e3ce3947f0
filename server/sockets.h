// The socket calls of the capture server's loop, on POSIX sockets (Linux)
// or Winsock (Windows): listening, accepting with the reason a failure
// calls for, a wait over many sockets, non-blocking sends and a wake-up
// for the loop. Sockets are ints, as in the shared layer (net/Net.h),
// whose error texts and receive this shares.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace orbel::server {

// A non-blocking listening socket on a numeric address, or -1 with a
// message a user can act on (naming the address and port). port 0 picks a
// free port; boundPort is the one taken.
int listenOn(const std::string& address, std::uint16_t port, std::uint16_t& boundPort,
             std::string& error);

struct Peer {
  int fd = -1;
  std::string name;          // "1.2.3.4:5", "[::1]:5"
  std::uint8_t address[16];  // network order
  std::size_t addressBytes = 0;
};

enum class Accepted {
  Peer,       // peer is set; its socket is non-blocking, without Nagle's delay
  None,       // nobody is waiting
  Lost,       // that connection failed on its way in; the next may not
  Exhausted,  // out of descriptors or memory, or worse: retrying at once will not mend it
};
Accepted acceptPeer(int listenFd, Peer& peer, std::string& error);

// Sends what the socket takes now: the count (> 0), 0 when it is full, or
// -1 when the connection has failed (error set).
long sendNow(int fd, const std::uint8_t* data, std::size_t size, std::string& error);
// No more sending; the peer reads the end after what was sent.
void shutdownSending(int fd);

// One wait over many sockets. Entries are added afresh before each wait;
// add answers the entry's index, which readable and writable take.
class SocketWait {
 public:
  SocketWait();
  ~SocketWait();
  SocketWait(const SocketWait&) = delete;
  SocketWait& operator=(const SocketWait&) = delete;

  void clear();
  std::size_t add(int fd, bool write);
  // True when some entry is ready or the time passed (or a signal came);
  // false with error set when the wait itself failed.
  bool wait(std::chrono::nanoseconds timeout, std::string& error);
  // Readable also when the peer closed or the connection failed: the next
  // receive tells which.
  bool readable(std::size_t index) const;
  bool writable(std::size_t index) const;

 private:
  struct Entries;
  std::unique_ptr<Entries> entries_;
};

// Wakes a loop waiting in SocketWait from another thread: a loopback
// datagram socket connected to itself (on Linux an eventfd).
class Wakeup {
 public:
  Wakeup() = default;
  ~Wakeup();
  Wakeup(const Wakeup&) = delete;
  Wakeup& operator=(const Wakeup&) = delete;

  bool open(std::string& error);
  int fd() const { return fd_; }
  void signal();
  void drain();

 private:
  int fd_ = -1;
};

}  // namespace orbel::server
