// The capture server's cost per client: N clients (1, 8, 64, 256) each take
// the stage scene (10 subjects of 60 segments, 600 labelled and 1000
// unlabelled markers) at 120 frames/s from a server program of its own, so
// that its CPU time and resident memory are its alone. The clients are raw
// sockets that one thread of this process reads, counting whole frames, and
// that send a heartbeat twice a second as the client library does.
//
// Figures: the server's CPU as a share of one core, in all and per client;
// its CPU time per frame delivered to one client, also as a ratio to one
// memcpy of the frame's payload (x_memcpy); its resident memory and what
// each client adds to it; and the share of the frames sent that the
// clients received (below 1 when this process, on the same cores, reads
// too slowly and the server drops frames for it).
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "frame_baseline.h"
#include "orbel/protocol/messages.h"
#include "server_process.h"

namespace {

namespace protocol = orbel::protocol;
using Clock = std::chrono::steady_clock;

constexpr double kFramesPerSecond = 120;

double StreamSeconds() {
  const char* text = std::getenv("ORBEL_BENCH_STREAM_SECONDS");
  const double seconds = text != nullptr ? std::atof(text) : 0;
  return seconds > 0 ? seconds : 5;
}

// CPU time of a process, in seconds: the sum over its threads of the
// scheduler's nanoseconds, far finer than the clock ticks of /proc/PID/stat.
double CpuSeconds(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return 0;
  double ns = 0;
  while (const dirent* task = readdir(dir)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream schedstat(tasks + "/" + task->d_name + "/schedstat");
    double running = 0;
    if (schedstat >> running) ns += running;
  }
  closedir(dir);
  return ns / 1e9;
}

double ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6);
  }
  return 0;
}

// One client: greets, asks for everything, and counts the frames it reads.
// Headers are read; bodies are discarded in the kernel (MSG_TRUNC), so that
// 256 clients' worth of stage frames costs this process little copying.
class Reader {
 public:
  explicit Reader(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    std::vector<std::uint8_t> bytes;
    protocol::encode(protocol::ClientHello{protocol::kVersion, "bench"}, bytes);
    protocol::encode(protocol::Want{1, protocol::Kind::All}, bytes);
    ok_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
          send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  ~Reader() { close(fd_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  bool ok() const { return ok_; }
  int fd() const { return fd_; }
  std::uint64_t frames() const { return frames_; }

  // Reads what is there; false when the server closed the connection.
  bool Read() {
    for (;;) {
      const bool inHeader = headerUsed_ < protocol::kHeaderBytes;
      std::uint8_t* into = inHeader ? header_ + headerUsed_ : sink_;
      const std::size_t want = inHeader ? protocol::kHeaderBytes - headerUsed_ : bodyLeft_;
      const ssize_t n = recv(fd_, into, want, MSG_DONTWAIT | (inHeader ? 0 : MSG_TRUNC));
      if (n == 0) return false;
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      const auto got = static_cast<std::size_t>(n);
      if (inHeader) {
        headerUsed_ += got;
        if (headerUsed_ < protocol::kHeaderBytes) continue;
        bodyLeft_ = 0;
        for (int i = 0; i < 4; ++i) bodyLeft_ |= std::size_t{header_[4 + i]} << (8 * i);
      } else {
        bodyLeft_ -= got;
      }
      if (bodyLeft_ == 0) {
        if (header_[2] == static_cast<std::uint8_t>(protocol::MessageType::Frame)) ++frames_;
        headerUsed_ = 0;
      }
    }
  }

  void Heartbeat() {
    std::vector<std::uint8_t> bytes;
    protocol::encodeHeartbeat(bytes);
    [[maybe_unused]] const ssize_t n =
        send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
  std::uint8_t header_[protocol::kHeaderBytes] = {};
  std::size_t headerUsed_ = 0;
  std::size_t bodyLeft_ = 0;
  std::uint8_t sink_[1] = {};  // never written: MSG_TRUNC discards
  std::uint64_t frames_ = 0;
};

// Reads every client until `until`; false when the server dropped one.
bool ReadAll(std::vector<std::unique_ptr<Reader>>& readers, Clock::time_point until) {
  std::vector<pollfd> fds;
  fds.reserve(readers.size());
  for (const auto& r : readers) fds.push_back({r->fd(), POLLIN, 0});
  auto heartbeat = Clock::now();
  while (Clock::now() < until) {
    if (poll(fds.data(), fds.size(), 10) < 0 && errno != EINTR) return false;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !readers[i]->Read()) {
        return false;
      }
    }
    if (Clock::now() - heartbeat > std::chrono::milliseconds(500)) {
      for (auto& r : readers) r->Heartbeat();
      heartbeat = Clock::now();
    }
  }
  return true;
}

std::uint64_t FramesRead(const std::vector<std::unique_ptr<Reader>>& readers) {
  std::uint64_t frames = 0;
  for (const auto& r : readers) frames += r->frames();
  return frames;
}

// range(0): clients.
void BM_ServeStageAt120(benchmark::State& state) {
  const auto clients = static_cast<std::size_t>(state.range(0));
  const double seconds = StreamSeconds();
  orbel::faults::ServerProcess server;
  std::string error;
  if (!server.Start({"--port", "0", "--scene-preset", "stage", "--fps", "120", "--max-clients",
                     std::to_string(clients)},
                    error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  // Settled, before any client: the scene computed each tick for nobody.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const double idleCpu0 = CpuSeconds(server.pid());
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const double idleCpuShare = CpuSeconds(server.pid()) - idleCpu0;
  const double idleKiB = ResidentKiB(server.pid());

  std::vector<std::unique_ptr<Reader>> readers;
  for (std::size_t i = 0; i < clients; ++i) {
    readers.push_back(std::make_unique<Reader>(server.port()));
    if (!readers.back()->ok()) {
      state.SkipWithError("a client could not connect");
      return;
    }
  }
  // A second to settle: every description sent, every queue at its size.
  if (!ReadAll(readers, Clock::now() + std::chrono::seconds(1))) {
    state.SkipWithError("the server dropped a client while settling");
    return;
  }

  double cpu = 0;
  double frames = 0;
  double wall = 0;
  for (auto _ : state) {
    static_cast<void>(_);  // one timed iteration, set by hand
    const std::uint64_t frames0 = FramesRead(readers);
    const double cpu0 = CpuSeconds(server.pid());
    const auto start = Clock::now();
    if (!ReadAll(readers, start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(seconds)))) {
      state.SkipWithError("the server dropped a client");
      return;
    }
    wall = std::chrono::duration<double>(Clock::now() - start).count();
    cpu = CpuSeconds(server.pid()) - cpu0;
    frames = static_cast<double>(FramesRead(readers) - frames0);
    state.SetIterationTime(wall);
  }
  const double residentKiB = ResidentKiB(server.pid());
  const auto n = static_cast<double>(clients);
  state.counters["clients"] = n;
  state.counters["idle_cpu_pct"] = 100 * idleCpuShare;
  state.counters["cpu_pct"] = 100 * cpu / wall;
  state.counters["cpu_pct_per_client"] = 100 * cpu / wall / n;
  state.counters["received_of_sent"] = frames / (n * kFramesPerSecond * wall);
  if (frames > 0) {
    const double nsPerClientFrame = cpu * 1e9 / frames;
    state.counters["cpu_us_per_client_frame"] = nsPerClientFrame / 1e3;
    const double memcpyNs = orbel::bench::Baseline("stage").memcpyNs;
    if (memcpyNs > 0) state.counters["x_memcpy"] = nsPerClientFrame / memcpyNs;
  }
  state.counters["rss_MB"] = residentKiB / 1024;
  state.counters["rss_KB_per_client"] = (residentKiB - idleKiB) / n;
}
BENCHMARK(BM_ServeStageAt120)
    ->Arg(1)
    ->Arg(8)
    ->Arg(64)
    ->Arg(256)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
