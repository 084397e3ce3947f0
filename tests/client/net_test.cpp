// The client's socket calls on loopback, against a listener this test owns:
// connect, send, wait, receive, the peer's close, our own shutdown (which
// the receive thread relies on to stop), and the text of a refused
// connection. Runs on POSIX sockets and, in the Windows
// build under wine, on Winsock.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Net.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace orbel::net {
namespace {

#if defined(_WIN32)
using RawSocket = SOCKET;
const RawSocket kNone = INVALID_SOCKET;
void CloseRaw(RawSocket s) { closesocket(s); }
#else
using RawSocket = int;
const RawSocket kNone = -1;
void CloseRaw(RawSocket s) { close(s); }
#endif

// A listening socket on 127.0.0.1 with a port the system chose. Winsock is
// started by the first connectTo, so the listener starts it itself too.
class Listener {
 public:
  Listener() {
#if defined(_WIN32)
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
#endif
    mSocket = socket(AF_INET, SOCK_STREAM, 0);
    if (mSocket == kNone) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(mSocket, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(mSocket, 4) != 0 ||
        getsockname(mSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      CloseRaw(mSocket);
      mSocket = kNone;
      return;
    }
    mPort = std::to_string(ntohs(address.sin_port));
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  ~Listener() {
    if (mAccepted != kNone) CloseRaw(mAccepted);
    if (mSocket != kNone) CloseRaw(mSocket);
#if defined(_WIN32)
    WSACleanup();
#endif
  }

  bool ok() const { return mSocket != kNone; }
  const std::string& port() const { return mPort; }

  // The connection the client made (the connect has completed: it waits in
  // the backlog).
  bool Accept() {
    mAccepted = accept(mSocket, nullptr, nullptr);
    return mAccepted != kNone;
  }
  bool Send(const std::string& bytes) {
    return send(mAccepted, bytes.data(), static_cast<int>(bytes.size()), 0) ==
           static_cast<int>(bytes.size());
  }
  std::string Receive(std::size_t count) {
    std::string out(count, '\0');
    std::size_t got = 0;
    while (got < count) {
      const int n = static_cast<int>(recv(mAccepted, &out[got], static_cast<int>(count - got), 0));
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return out;
  }
  void CloseAccepted() {
    CloseRaw(mAccepted);
    mAccepted = kNone;
  }
  void CloseListening() {
    CloseRaw(mSocket);
    mSocket = kNone;
  }

 private:
  RawSocket mSocket = kNone;
  RawSocket mAccepted = kNone;
  std::string mPort;
};

Clock::time_point Soon() { return Clock::now() + std::chrono::seconds(5); }

TEST(NetTest, BytesGoBothWaysAndThePeersCloseIsSeen) {
  Listener server;
  ASSERT_TRUE(server.ok());
  ConnectError code = ConnectError::Failed;
  std::string error;
  const int fd = connectTo({"127.0.0.1", server.port()}, Soon(), code, error);
  ASSERT_GE(fd, 0) << error;
  EXPECT_EQ(code, ConnectError::None);
  EXPECT_TRUE(error.empty());
  ASSERT_TRUE(server.Accept());

  const std::string hello = "hello, server";
  ASSERT_TRUE(
      sendAll(fd, reinterpret_cast<const std::uint8_t*>(hello.data()), hello.size(), Soon(), error))
      << error;
  EXPECT_EQ(server.Receive(hello.size()), hello);

  // Nothing to read yet: the socket is non-blocking and the wait times out.
  std::uint8_t buffer[64];
  std::size_t count = 0;
  EXPECT_EQ(receiveSome(fd, buffer, sizeof buffer, count, error), Received::Again);
  EXPECT_EQ(waitReadable(fd, 10, error), 0);

  ASSERT_TRUE(server.Send("answer"));
  ASSERT_EQ(waitReadable(fd, 5000, error), 1) << error;
  std::string got;
  while (got.size() < 6) {
    const Received r = receiveSome(fd, buffer, sizeof buffer, count, error);
    if (r == Received::Again) {
      ASSERT_EQ(waitReadable(fd, 5000, error), 1) << error;
      continue;
    }
    ASSERT_EQ(r, Received::Bytes) << error;
    got.append(reinterpret_cast<const char*>(buffer), count);
  }
  EXPECT_EQ(got, "answer");

  server.CloseAccepted();
  ASSERT_EQ(waitReadable(fd, 5000, error), 1) << error;
  Received last = receiveSome(fd, buffer, sizeof buffer, count, error);
  // A reset instead of an orderly close is also an end; never "Again".
  EXPECT_TRUE(last == Received::Closed || last == Received::Failed);
  closeSocket(fd);
}

TEST(NetTest, RefusedConnectionQuotesTheAddress) {
  std::string port;
  {
    Listener gone;
    ASSERT_TRUE(gone.ok());
    port = gone.port();
  }  // nobody listens there any more
  ConnectError code = ConnectError::None;
  std::string error;
  const int fd = connectTo({"127.0.0.1", port}, Soon(), code, error);
  if (fd >= 0) closeSocket(fd);
  ASSERT_LT(fd, 0) << "a port nobody listens on accepted a connection";
  EXPECT_EQ(code, ConnectError::Failed);
  EXPECT_NE(error.find("cannot connect to 127.0.0.1:" + port), std::string::npos) << error;
}

TEST(NetTest, OwnShutdownEndsTheReceive) {
  Listener server;
  ASSERT_TRUE(server.ok());
  ConnectError code = ConnectError::Failed;
  std::string error;
  const int fd = connectTo({"127.0.0.1", server.port()}, Soon(), code, error);
  ASSERT_GE(fd, 0) << error;
  ASSERT_TRUE(server.Accept());
  shutdownSocket(fd);
#if !defined(_WIN32)
  // Linux wakes a waiter at once. Windows' select does not report our own
  // shutdown; the receive thread sees its stop flag at its next short wait.
  EXPECT_EQ(waitReadable(fd, 5000, error), 1) << error;
#endif
  std::uint8_t buffer[8];
  std::size_t count = 0;
  EXPECT_NE(receiveSome(fd, buffer, sizeof buffer, count, error), Received::Again);
  closeSocket(fd);
}

}  // namespace
}  // namespace orbel::net
