// The capture server program as a child process, so that a test can kill it
// the way a crash or a power cut would (no goodbye, sockets closed by the
// kernel) and start it again on the same port.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orbel::faults {

class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Runs the server with these arguments (add "--port", "0" for a free
  // port) and waits for its "listening on" line. False with a message when
  // it does not come up. Its log goes to logFile, or nowhere.
  bool Start(const std::vector<std::string>& arguments, std::string& error,
             const std::string& logFile = "");
  // SIGKILL (TerminateProcess), then reaps the process. Safe to call when
  // not running.
  void Kill();
  // SIGSTOP and SIGCONT (every thread suspended and resumed): a server that
  // hangs, its sockets still open, and one that wakes up again.
  void Freeze();
  void Thaw();
  bool running() const { return mPid > 0; }
  std::uint16_t port() const { return mPort; }
  pid_t pid() const { return mPid; }

 private:
  // Takes the port from the server's first line ("listening on ADDRESS:PORT",
  // the address perhaps IPv6 in brackets); kills the server when it is not
  // that line.
  bool TakePort(bool spoke, const std::string& line, std::string& error);

  pid_t mPid = -1;
#if defined(_WIN32)
  void* mProcess = nullptr;  // HANDLEs
  void* mOutput = nullptr;
#else
  int mOutput = -1;  // read end of the server's standard output
#endif
  std::uint16_t mPort = 0;
};

}  // namespace orbel::faults
