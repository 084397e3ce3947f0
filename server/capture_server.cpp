#include "capture_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "client_requests.h"
#include "orbel/protocol/messages.h"

namespace orbel::server {

namespace protocol = orbel::protocol;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxClients = 256;
constexpr std::size_t kInputBytes = protocol::kHeaderBytes + protocol::kMaxClientBodyBytes;

std::int64_t monotonicNowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string peerName(const sockaddr_storage& addr, socklen_t len) {
  char host[NI_MAXHOST] = "?";
  char port[NI_MAXSERV] = "?";
  getnameinfo(reinterpret_cast<const sockaddr*>(&addr), len, host, sizeof host, port, sizeof port,
              NI_NUMERICHOST | NI_NUMERICSERV);
  if (addr.ss_family == AF_INET6) return std::string("[") + host + "]:" + port;
  return std::string(host) + ":" + port;
}

// Why a scene description cannot go on the wire, or empty when it can.
std::string unservable(const Description& d) {
  if (d.subjects.size() > protocol::kMaxSubjects) {
    return std::to_string(d.subjects.size()) + " subjects, more than " +
           std::to_string(protocol::kMaxSubjects);
  }
  std::size_t segments = 0;
  std::size_t markers = 0;
  auto tooLong = [](const std::string& name) { return name.size() > protocol::kMaxNameBytes; };
  for (const SubjectDescription& s : d.subjects) {
    if (tooLong(s.name)) return "subject name '" + s.name.substr(0, 40) + "...' is too long";
    for (const SegmentDescription& seg : s.segments) {
      if (tooLong(seg.name) || tooLong(seg.parent)) {
        return "a segment name of subject '" + s.name + "' is too long";
      }
    }
    for (const std::string& m : s.markers) {
      if (tooLong(m)) return "a marker name of subject '" + s.name + "' is too long";
    }
    segments += s.segments.size();
    markers += s.markers.size();
  }
  if (segments > protocol::kMaxSegmentsTotal) {
    return std::to_string(segments) + " segments, more than " +
           std::to_string(protocol::kMaxSegmentsTotal);
  }
  if (markers > protocol::kMaxMarkersTotal) {
    return std::to_string(markers) + " markers, more than " +
           std::to_string(protocol::kMaxMarkersTotal);
  }
  return {};
}

// Why a scene frame does not fit its description, or empty when it does.
std::string misfit(const Description& d, const Frame& f) {
  if (f.segments.size() != d.subjects.size() || f.markers.size() != d.subjects.size()) {
    return "it has " + std::to_string(f.segments.size()) + " subjects, the description " +
           std::to_string(d.subjects.size());
  }
  for (std::size_t s = 0; s < d.subjects.size(); ++s) {
    const SubjectDescription& subject = d.subjects[s];
    if (f.segments[s].size() != subject.segments.size()) {
      return "subject '" + subject.name + "' has " + std::to_string(f.segments[s].size()) +
             " segment poses for " + std::to_string(subject.segments.size()) + " segments";
    }
    if (f.markers[s].size() != subject.markers.size()) {
      return "subject '" + subject.name + "' has " + std::to_string(f.markers[s].size()) +
             " marker positions for " + std::to_string(subject.markers.size()) + " markers";
    }
  }
  if (f.unlabeled.size() > protocol::kMaxUnlabeled) {
    return std::to_string(f.unlabeled.size()) + " unlabelled markers, more than " +
           std::to_string(protocol::kMaxUnlabeled);
  }
  return {};
}

}  // namespace

class CaptureServer::Loop {
 public:
  Loop(const Scene& scene, const ServerConfig& config, double fps, int listenFd,
       CaptureServer& counters)
      : scene_(scene),
        config_(config),
        rate_(FrameRate::fromDouble(fps)),
        period_(1.0e9 / fps),
        listenFd_(listenFd),
        framesProduced_(counters.framesProduced_),
        clientCount_(counters.clientCount_),
        framesDropped_(counters.framesDropped_),
        peakQueuedBytes_(counters.peakQueuedBytes_) {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }

  ~Loop() {
    for (auto& c : clients_) close(c->fd);
    if (wakeFd_ >= 0) close(wakeFd_);
    close(listenFd_);
  }

  bool ready() const { return wakeFd_ >= 0; }

  void requestStop() {
    stop_ = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
  }

  void run();

 private:
  struct Client {
    int fd = -1;
    std::string peer;
    Clock::time_point connectedAt;
    Clock::time_point lastQueued;
    bool greeted = false;
    bool closing = false;
    std::uint8_t kinds = 0;
    std::uint32_t descriptionSent = 0;  // 0: none yet (ids start at 1)
    std::uint64_t framesDropped = 0;
    std::vector<std::uint8_t> in;
    std::size_t inUsed = 0;
    std::vector<std::uint8_t> out;
    std::size_t outSent = 0;

    std::size_t queued() const { return out.size() - outSent; }
  };

  void log(const std::string& line) const { config_.log(line); }
  void accept();
  void readFrom(Client& c);
  void handle(Client& c, const ClientRequest& r);
  void fail(Client& c, const std::string& reason);
  void queue(Client& c, const std::vector<std::uint8_t>& bytes);
  void flush(Client& c);
  void tick(std::uint64_t n);
  const std::vector<std::uint8_t>& encodedFrame(std::uint8_t kinds);
  void sayGoodbyeToAll();

  const Scene& scene_;
  const ServerConfig& config_;
  const FrameRate rate_;
  const double period_;  // nanoseconds
  int listenFd_;
  int wakeFd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t>& framesProduced_;
  std::atomic<std::size_t>& clientCount_;
  std::atomic<std::uint64_t>& framesDropped_;
  std::atomic<std::size_t>& peakQueuedBytes_;
  std::vector<std::unique_ptr<Client>> clients_;

  std::shared_ptr<const Description> description_;
  bool descriptionUsable_ = false;
  bool misfitLogged_ = false;
  std::uint32_t descriptionId_ = 0;
  std::vector<std::uint8_t> descriptionBytes_;

  Frame sceneFrame_;
  protocol::Frame wireFrame_;
  // One encoding per combination of kinds, made on demand each tick.
  std::vector<std::uint8_t> encoded_[protocol::Kind::All + 1];
  bool encodedFresh_[protocol::Kind::All + 1] = {};
  std::vector<std::uint8_t> scratch_;
};

void CaptureServer::Loop::run() {
  std::vector<pollfd> fds;
  std::uint64_t n = 0;
  Clock::time_point epoch = Clock::now();
  std::uint64_t ticksSinceEpoch = 0;
  auto scheduled = [&] {
    return epoch + std::chrono::nanoseconds(
                       static_cast<std::int64_t>(std::llround(ticksSinceEpoch * period_)));
  };

  while (!stop_) {
    fds.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (auto& c : clients_) {
      fds.push_back({c->fd, static_cast<short>(POLLIN | (c->queued() > 0 ? POLLOUT : 0)), 0});
    }
    auto wait = scheduled() - Clock::now();
    const auto housekeeping = std::chrono::milliseconds(50);
    if (wait > housekeeping) wait = housekeeping;
    if (wait < Clock::duration::zero()) wait = Clock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    const int rc = ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (rc < 0 && errno != EINTR) {
      log(std::string("poll failed: ") + std::strerror(errno));
      break;
    }
    if (stop_) break;
    if (rc > 0) {
      if (fds[0].revents & POLLIN) {
        std::uint64_t drained = 0;
        [[maybe_unused]] const ssize_t r = read(wakeFd_, &drained, sizeof drained);
      }
      if (fds[1].revents & POLLIN) accept();
      // Clients accepted just now are not in fds; they are polled next time.
      for (std::size_t i = 2; i < fds.size(); ++i) {
        Client& c = *clients_[i - 2];
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) readFrom(c);
        if (!c.closing && (fds[i].revents & POLLOUT)) flush(c);
      }
    }

    const auto now = Clock::now();
    if (now >= scheduled()) {
      tick(n++);
      ++ticksSinceEpoch;
      // Behind by more than a frame (a slow machine, or a rate faster than
      // the scene can be computed): go on from now rather than burst.
      if (Clock::now() - scheduled() >
          std::chrono::nanoseconds(static_cast<std::int64_t>(period_))) {
        epoch = Clock::now();
        ticksSinceEpoch = 0;
      }
    }

    for (auto& c : clients_) {
      if (c->closing) continue;
      if (!c->greeted && now - c->connectedAt > config_.greetingTimeout) {
        fail(*c, "did not greet within " + std::to_string(config_.greetingTimeout.count()) + " ms");
        continue;
      }
      if (c->greeted && now - c->lastQueued > config_.heartbeatInterval) {
        scratch_.clear();
        protocol::encodeHeartbeat(scratch_);
        queue(*c, scratch_);
      }
      if (!c->closing && c->queued() > 0) flush(*c);
    }

    for (std::size_t i = 0; i < clients_.size();) {
      if (clients_[i]->closing) {
        if (clients_[i]->framesDropped > 0) {
          log("client " + clients_[i]->peer + " missed " +
              std::to_string(clients_[i]->framesDropped) +
              " frames because it did not read them in time");
        }
        close(clients_[i]->fd);
        clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    clientCount_ = clients_.size();
  }
  sayGoodbyeToAll();
}

void CaptureServer::Loop::accept() {
  for (;;) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    const int fd =
        accept4(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        log(std::string("accept failed: ") + std::strerror(errno));
      }
      return;
    }
    const std::string peer = peerName(addr, len);
    if (clients_.size() >= kMaxClients) {
      log("client " + peer + " refused: already serving " + std::to_string(kMaxClients) +
          " clients");
      close(fd);
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Client>();
    c->fd = fd;
    c->peer = peer;
    c->connectedAt = c->lastQueued = Clock::now();
    c->in.resize(kInputBytes);
    log("client " + peer + " connected");
    clients_.push_back(std::move(c));
  }
}

void CaptureServer::Loop::readFrom(Client& c) {
  if (c.closing) return;
  const ssize_t n = recv(c.fd, c.in.data() + c.inUsed, c.in.size() - c.inUsed, 0);
  if (n == 0) {
    log("client " + c.peer + " disconnected");
    c.closing = true;
    return;
  }
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    log("client " + c.peer + " dropped: " + std::strerror(errno));
    c.closing = true;
    return;
  }
  c.inUsed += static_cast<std::size_t>(n);
  std::size_t offset = 0;
  while (!c.closing) {
    const ClientRequest r = nextClientRequest(c.in.data() + offset, c.inUsed - offset, c.greeted);
    if (r.action == ClientRequest::Action::Wait) break;
    offset += r.bytes;
    handle(c, r);
  }
  if (offset > 0 && !c.closing) {
    std::memmove(c.in.data(), c.in.data() + offset, c.inUsed - offset);
    c.inUsed -= offset;
  }
}

void CaptureServer::Loop::handle(Client& c, const ClientRequest& r) {
  switch (r.action) {
    case ClientRequest::Action::Wait:
    case ClientRequest::Action::Ignore:
      return;
    case ClientRequest::Action::Refuse:
      return fail(c, r.text);
    case ClientRequest::Action::Greet:
      c.greeted = true;
      scratch_.clear();
      protocol::encode(
          protocol::ServerHello{protocol::kVersion, 1.0e9 / period_, "orbel-capture-server"},
          scratch_);
      queue(c, scratch_);
      return;
    case ClientRequest::Action::Serve:
      c.kinds = r.kinds;
      scratch_.clear();
      protocol::encode(protocol::WantAck{r.sequence, r.kinds}, scratch_);
      queue(c, scratch_);
      return;
    case ClientRequest::Action::Leave:
      log("client " + c.peer + " said goodbye" + (r.text.empty() ? "" : ": " + r.text));
      c.closing = true;
      return;
  }
}

void CaptureServer::Loop::fail(Client& c, const std::string& reason) {
  log("client " + c.peer + " " + reason + "; closing the connection");
  // Best effort: tell the client why, after whatever it is owed already,
  // without waiting for a client that does not read.
  if (c.queued() <= config_.queueHardLimitBytes) {
    scratch_.clear();
    protocol::encode(protocol::Goodbye{reason}, scratch_);
    c.out.insert(c.out.end(), scratch_.begin(), scratch_.end());
    flush(c);
  }
  c.closing = true;
}

void CaptureServer::Loop::queue(Client& c, const std::vector<std::uint8_t>& bytes) {
  if (c.closing) return;
  if (c.outSent > 0 && c.outSent == c.out.size()) {
    c.out.clear();
    c.outSent = 0;
  }
  c.out.insert(c.out.end(), bytes.begin(), bytes.end());
  c.lastQueued = Clock::now();
  // Only this thread writes the peak, so a plain compare and store will do.
  if (c.queued() > peakQueuedBytes_.load(std::memory_order_relaxed)) {
    peakQueuedBytes_.store(c.queued(), std::memory_order_relaxed);
  }
  if (c.queued() > config_.queueHardLimitBytes) {
    c.out.clear();
    c.outSent = 0;
    fail(c, "is not reading (" + std::to_string(config_.queueHardLimitBytes) + " bytes waiting)");
  }
}

void CaptureServer::Loop::flush(Client& c) {
  while (c.queued() > 0) {
    const ssize_t n = send(c.fd, c.out.data() + c.outSent, c.queued(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.outSent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0 && errno == EINTR) continue;
    log("client " + c.peer + " dropped: " + std::strerror(n < 0 ? errno : EPIPE));
    c.closing = true;
    return;
  }
  if (c.outSent == c.out.size()) {
    c.out.clear();
    c.outSent = 0;
  } else if (c.outSent > (1u << 20) && c.outSent * 2 > c.out.size()) {
    c.out.erase(c.out.begin(), c.out.begin() + static_cast<std::ptrdiff_t>(c.outSent));
    c.outSent = 0;
  }
}

const std::vector<std::uint8_t>& CaptureServer::Loop::encodedFrame(std::uint8_t kinds) {
  std::vector<std::uint8_t>& bytes = encoded_[kinds & protocol::Kind::All];
  if (!encodedFresh_[kinds & protocol::Kind::All]) {
    bytes.clear();
    protocol::encode(wireFrame_, kinds, bytes);
    encodedFresh_[kinds & protocol::Kind::All] = true;
  }
  return bytes;
}

void CaptureServer::Loop::tick(std::uint64_t n) {
  std::shared_ptr<const Description> description = scene_.descriptionAt(n);
  if (description != description_) {
    description_ = description;
    misfitLogged_ = false;
    const std::string problem = description ? unservable(*description) : "there is none";
    descriptionUsable_ = problem.empty();
    if (!descriptionUsable_) {
      log("the scene's description from frame " + std::to_string(n) +
          " cannot be served: " + problem);
    } else {
      protocol::Description wire;
      wire.id = ++descriptionId_;
      for (const SubjectDescription& s : description->subjects) {
        protocol::SubjectInfo subject;
        subject.name = s.name;
        for (const SegmentDescription& seg : s.segments) {
          subject.segments.push_back({seg.name, seg.parent});
        }
        subject.markers = s.markers;
        wire.subjects.push_back(std::move(subject));
      }
      descriptionBytes_.clear();
      protocol::encode(wire, descriptionBytes_);
    }
  }
  if (!descriptionUsable_) return;
  // A frame is meaningless without its description, so the description is
  // queued first and even past a client's soft limit.
  for (auto& c : clients_) {
    if (c->closing || !c->greeted || c->descriptionSent == descriptionId_) continue;
    queue(*c, descriptionBytes_);
    c->descriptionSent = descriptionId_;
  }

  scene_.frameAt(n, sceneFrame_);
  const std::string problem = misfit(*description_, sceneFrame_);
  if (!problem.empty()) {
    if (!misfitLogged_) {
      log("scene frame " + std::to_string(n) + " does not match its description (" + problem +
          "); such frames are not sent");
      misfitLogged_ = true;
    }
    return;
  }

  protocol::Frame& w = wireFrame_;
  w.number = n;
  w.descriptionId = descriptionId_;
  Timecode tc = sceneFrame_.timecode;
  if (!scene_.providesTimecode()) tc = timecodeAtFrame(n, rate_, config_.timecode);
  w.timecode = {tc.hours, tc.minutes, tc.seconds, tc.frames, tc.standard};
  w.kinds = protocol::Kind::All;
  w.segmentCounts.clear();
  w.segments.clear();
  w.markerCounts.clear();
  w.markers.clear();
  for (std::size_t s = 0; s < sceneFrame_.segments.size(); ++s) {
    w.segmentCounts.push_back(static_cast<std::uint32_t>(sceneFrame_.segments[s].size()));
    for (const SegmentPose& p : sceneFrame_.segments[s]) {
      protocol::SegmentSample sample;
      std::memcpy(sample.translation, p.translation, sizeof sample.translation);
      std::memcpy(sample.rotation, p.rotation, sizeof sample.rotation);
      sample.occluded = p.occluded;
      w.segments.push_back(sample);
    }
    w.markerCounts.push_back(static_cast<std::uint32_t>(sceneFrame_.markers[s].size()));
    for (const MarkerPosition& p : sceneFrame_.markers[s]) {
      protocol::MarkerSample sample;
      std::memcpy(sample.position, p.position, sizeof sample.position);
      sample.occluded = p.occluded;
      w.markers.push_back(sample);
    }
  }
  w.unlabeled.resize(sceneFrame_.unlabeled.size());
  for (std::size_t u = 0; u < sceneFrame_.unlabeled.size(); ++u) {
    std::memcpy(w.unlabeled[u].position, sceneFrame_.unlabeled[u].position,
                sizeof w.unlabeled[u].position);
  }
  for (bool& fresh : encodedFresh_) fresh = false;
  ++framesProduced_;

  // Encode first and stamp after, so the send time measures the way to the
  // client and not this server's own encoding.
  auto takesFrame = [this](const Client& c) {
    return !c.closing && c.greeted && c.queued() <= config_.queueSoftLimitBytes;
  };
  for (auto& c : clients_) {
    if (takesFrame(*c)) encodedFrame(c->kinds);
  }
  w.serverSendTimeNs = monotonicNowNs();
  for (std::size_t kinds = 0; kinds <= protocol::Kind::All; ++kinds) {
    if (encodedFresh_[kinds]) protocol::restampFrameSendTime(encoded_[kinds], w.serverSendTimeNs);
  }
  for (auto& c : clients_) {
    if (c->closing || !c->greeted) continue;
    if (!takesFrame(*c)) {
      ++c->framesDropped;
      framesDropped_.fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    queue(*c, encodedFrame(c->kinds));
  }
}

void CaptureServer::Loop::sayGoodbyeToAll() {
  scratch_.clear();
  protocol::encode(protocol::Goodbye{"server shutting down"}, scratch_);
  for (auto& c : clients_) {
    if (c->closing) continue;
    // Finish the message in flight, if the socket takes it, so the goodbye
    // arrives whole; otherwise the closed socket says it well enough.
    queue(*c, scratch_);
    flush(*c);
  }
}

CaptureServer::CaptureServer(std::shared_ptr<const Scene> scene, ServerConfig config)
    : scene_(std::move(scene)), config_(std::move(config)) {
  if (!config_.log) {
    config_.log = [](const std::string& line) {
      std::fprintf(stderr, "orbel-capture-server: %s\n", line.c_str());
    };
  }
}

CaptureServer::~CaptureServer() { stop(); }

bool CaptureServer::start(std::string& error) {
  if (loop_) {
    error = "the server is already running";
    return false;
  }
  fps_ = config_.framesPerSecond > 0 ? config_.framesPerSecond : scene_->framesPerSecond();
  if (!std::isfinite(fps_) || fps_ <= 0 || fps_ > 1.0e6) {
    error = "frame rate " + std::to_string(fps_) + " is not between 0 and 1000000";
    return false;
  }
  const auto first = scene_->descriptionAt(0);
  if (!first) {
    error = "the scene has no description";
    return false;
  }
  if (const std::string problem = unservable(*first); !problem.empty()) {
    error = "the scene cannot be served: " + problem;
    return false;
  }

  const std::string where =
      (config_.bindAddress.find(':') != std::string::npos ? "[" + config_.bindAddress + "]"
                                                          : config_.bindAddress) +
      ":" + std::to_string(config_.port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(config_.port);
  if (getaddrinfo(config_.bindAddress.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
    error =
        "cannot listen on " + where + ": '" + config_.bindAddress + "' is not a numeric IP address";
    return false;
  }
  const int fd = socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                        found->ai_protocol);
  if (fd < 0) {
    error = "cannot listen on " + where + ": " + std::strerror(errno);
    freeaddrinfo(found);
    return false;
  }
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, 64) != 0) {
    const int e = errno;
    error = "cannot listen on " + where + ": " + std::strerror(e);
    if (e == EACCES && config_.port < 1024) {
      error += " (ports below 1024 need administrator rights; choose a port above 1023)";
    } else if (e == EADDRINUSE) {
      error += " (another program already serves that port)";
    }
    close(fd);
    freeaddrinfo(found);
    return false;
  }
  freeaddrinfo(found);
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  boundPort_ =
      ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                        : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

  loop_ = std::make_unique<Loop>(*scene_, config_, fps_, fd, *this);
  if (!loop_->ready()) {
    error = std::string("cannot create the server's wake-up event: ") + std::strerror(errno);
    loop_.reset();
    return false;
  }
  thread_ = std::thread([this] { loop_->run(); });
  return true;
}

void CaptureServer::stop() {
  if (!loop_) return;
  loop_->requestStop();
  if (thread_.joinable()) thread_.join();
  loop_.reset();
  clientCount_ = 0;
}

}  // namespace orbel::server
