#include "server_process.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace orbel::faults {

namespace {

// As below, from a pipe that cannot be polled: peeked at until a byte is in.
bool ReadFirstLine(HANDLE pipe, std::string& line) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    DWORD waiting = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr)) return false;
    if (waiting == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    char c = 0;
    DWORD n = 0;
    if (!ReadFile(pipe, &c, 1, &n, nullptr) || n == 0) return false;
    if (c == '\n') return true;
    if (c != '\r') line += c;
  }
  return false;
}

// ntdll's calls that stop and restart every thread of a process at once.
using ProcessCall = LONG(NTAPI*)(HANDLE);
ProcessCall NtCall(const char* name) {
  return reinterpret_cast<ProcessCall>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

}  // namespace

ServerProcess::~ServerProcess() { Kill(); }

bool ServerProcess::Start(const std::vector<std::string>& arguments, std::string& error,
                          const std::string& logFile) {
  Kill();
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) {
    error = "no pipe";
    return false;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE log = CreateFileA(logFile.empty() ? "NUL" : logFile.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string command = std::string("\"") + ORBEL_CAPTURE_SERVER + "\"";
  for (const std::string& a : arguments) command += " \"" + a + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = log;
  PROCESS_INFORMATION info{};
  const BOOL ran = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                  nullptr, nullptr, &startup, &info);
  CloseHandle(writeEnd);
  if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
  if (!ran) {
    CloseHandle(readEnd);
    error = std::string("cannot run ") + ORBEL_CAPTURE_SERVER;
    return false;
  }
  CloseHandle(info.hThread);
  mProcess = info.hProcess;
  mPid = static_cast<pid_t>(info.dwProcessId);
  mOutput = readEnd;

  std::string line;
  const bool spoke = ReadFirstLine(readEnd, line);
  return TakePort(spoke, line, error);
}

void ServerProcess::Freeze() {
  if (mProcess != nullptr) NtCall("NtSuspendProcess")(mProcess);
}

void ServerProcess::Thaw() {
  if (mProcess != nullptr) NtCall("NtResumeProcess")(mProcess);
}

void ServerProcess::Kill() {
  if (mProcess == nullptr) return;
  TerminateProcess(mProcess, 137);
  WaitForSingleObject(mProcess, INFINITE);
  CloseHandle(mProcess);
  CloseHandle(mOutput);
  mProcess = mOutput = nullptr;
  mPid = -1;
}

}  // namespace orbel::faults

#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

extern char** environ;

namespace orbel::faults {

namespace {

// The server's first line, read byte by byte so that nothing after it is
// taken from the pipe; bounded so a server that never speaks fails the test.
bool ReadFirstLine(int fd, std::string& line) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
  return false;
}

}  // namespace

ServerProcess::~ServerProcess() { Kill(); }

bool ServerProcess::Start(const std::vector<std::string>& arguments, std::string& error,
                          const std::string& logFile) {
  Kill();
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    error = "no pipe";
    return false;
  }
  std::vector<std::string> words{ORBEL_CAPTURE_SERVER};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  // The server logs every connection; a pipe nobody reads would fill and
  // stall it, so its log goes to a file or nowhere.
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO,
                                   logFile.empty() ? "/dev/null" : logFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    error = std::string("cannot run ") + argv[0];
    return false;
  }
  mPid = pid;
  mOutput = out[0];

  std::string line;
  const bool spoke = ReadFirstLine(mOutput, line);
  return TakePort(spoke, line, error);
}

void ServerProcess::Freeze() {
  if (mPid > 0) kill(mPid, SIGSTOP);
}

void ServerProcess::Thaw() {
  if (mPid > 0) kill(mPid, SIGCONT);
}

void ServerProcess::Kill() {
  if (mPid <= 0) return;
  kill(mPid, SIGKILL);
  int status = 0;
  waitpid(mPid, &status, 0);
  mPid = -1;
  // Kept open while the server ran: it writes nothing more there, but a
  // closed pipe would kill it if it did.
  close(mOutput);
  mOutput = -1;
}

}  // namespace orbel::faults

#endif

namespace orbel::faults {

bool ServerProcess::TakePort(bool spoke, const std::string& line, std::string& error) {
  unsigned port = 0;
  // The address may be IPv6, in brackets: the port follows the last colon.
  if (!spoke || line.rfind("listening on ", 0) != 0 ||
      std::sscanf(line.c_str() + line.rfind(':') + 1, "%u", &port) != 1) {
    Kill();
    error = "the server did not start (its first line: '" + line + "')";
    return false;
  }
  mPort = static_cast<std::uint16_t>(port);
  return true;
}

}  // namespace orbel::faults
