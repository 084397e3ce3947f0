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

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "client_requests.h"
#include "log_text.h"
#include "orbel/protocol/messages.h"
#include "send_queue.h"

namespace orbel::server {

namespace protocol = orbel::protocol;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kInputBytes = protocol::kHeaderBytes + protocol::kMaxClientBodyBytes;
// Out of descriptors: the first pause, doubled on each failure up to the
// longest, so that a lasting shortage costs a few attempts a second.
constexpr Clock::duration kAcceptBackoffFirst = std::chrono::milliseconds(50);
constexpr Clock::duration kAcceptBackoffLongest = std::chrono::milliseconds(1000);
// Refused clients held open for their reason to be read, and for how long.
constexpr std::size_t kMaxRefusedHeld = 64;
constexpr Clock::duration kRefusedHeldFor = std::chrono::seconds(1);
// A burst of refusals ends after this much quiet; a long one is summed up
// in the log this often.
constexpr Clock::duration kBurstQuiet = std::chrono::seconds(2);
constexpr Clock::duration kBurstSummaryEvery = std::chrono::seconds(60);

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
        access_(config.allow),
        framesProduced_(counters.framesProduced_),
        clientCount_(counters.clientCount_),
        framesDropped_(counters.framesDropped_),
        peakQueuedBytes_(counters.peakQueuedBytes_) {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }

  ~Loop() {
    for (auto& c : clients_) close(c->fd);
    for (const Refused& r : refused_) close(r.fd);
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
    Clock::time_point lastHeard;  // its last whole message
    bool greeted = false;
    bool closing = false;
    std::uint8_t kinds = 0;
    std::uint32_t descriptionSent = 0;  // 0: none yet (ids start at 1)
    std::uint64_t framesDropped = 0;
    std::vector<std::uint8_t> in;
    std::size_t inUsed = 0;
    SendQueue out;
  };
  // A client turned away with a reason: kept open a moment, reading and
  // discarding, so that its greeting arriving after the close cannot turn
  // the close into a reset that destroys the reason before it is read.
  struct Refused {
    int fd = -1;
    Clock::time_point until;
  };

  void log(const std::string& line) const { config_.log(line); }
  void accept(Clock::time_point now);
  void pauseAccepting(int error, Clock::time_point now);
  void refuse(int fd, const std::string& peer, Clock::time_point now);
  void serviceRefused(const std::vector<pollfd>& fds, std::size_t first, std::size_t count,
                      Clock::time_point now);
  void logBursts(Clock::time_point now);
  void readFrom(Client& c);
  void handle(Client& c, const ClientRequest& r);
  void fail(Client& c, const std::string& reason);
  // Scene messages (description, frame) are queued only to a client within
  // its soft limit; the rest (greeting, acknowledgement, heartbeat) are owed
  // whatever its backlog. Either way a client whose queue would pass its
  // limit is dropped.
  void queue(Client& c, const std::vector<std::uint8_t>& bytes, bool replaceable = false);
  std::size_t queueLimit() const {
    return config_.queueSoftLimitBytes + largestSceneMessage_ + kControlAllowanceBytes;
  }
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
  const AccessList access_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t>& framesProduced_;
  std::atomic<std::size_t>& clientCount_;
  std::atomic<std::uint64_t>& framesDropped_;
  std::atomic<std::size_t>& peakQueuedBytes_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<Refused> refused_;

  // Out of descriptors, accept fails at once for as long as the listening
  // socket is watched: it is left alone for a while, longer each time.
  Clock::time_point acceptPausedUntil_{};
  Clock::duration acceptBackoff_{};
  std::uint64_t acceptFailures_ = 0;
  Clock::time_point acceptFailingSince_{};
  LogBurst fullBurst_{kBurstQuiet, kBurstSummaryEvery};
  LogBurst strangerBurst_{kBurstQuiet, kBurstSummaryEvery};

  std::shared_ptr<const Description> description_;
  bool descriptionUsable_ = false;
  bool misfitLogged_ = false;
  std::uint32_t descriptionId_ = 0;
  std::vector<std::uint8_t> descriptionBytes_;
  std::size_t largestSceneMessage_ = 0;

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
    // Laid out as: wake-up, listener, clients, refused clients.
    fds.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    // A negative descriptor is skipped by poll: how accepting pauses.
    fds.push_back({Clock::now() >= acceptPausedUntil_ ? listenFd_ : -1, POLLIN, 0});
    for (auto& c : clients_) {
      fds.push_back({c->fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
    }
    const std::size_t clientsPolled = clients_.size();
    for (const Refused& r : refused_) fds.push_back({r.fd, POLLIN, 0});
    const std::size_t refusedPolled = refused_.size();

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
      serviceRefused(fds, 2 + clientsPolled, refusedPolled, Clock::now());
      if (fds[1].revents & POLLIN) accept(Clock::now());
      // Clients accepted just now are not in fds; they are polled next time.
      for (std::size_t i = 0; i < clientsPolled; ++i) {
        Client& c = *clients_[i];
        const short revents = fds[2 + i].revents;
        if (revents & (POLLIN | POLLHUP | POLLERR)) readFrom(c);
        if (!c.closing && (revents & POLLOUT)) flush(c);
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
      if (c->greeted && now - c->lastHeard > config_.idleTimeout) {
        fail(*c, "sent nothing for " + std::to_string(config_.idleTimeout.count()) + " ms");
        continue;
      }
      // Bytes still waiting say as much as a heartbeat would, once read.
      if (c->greeted && c->out.empty() && now - c->lastQueued > config_.heartbeatInterval) {
        scratch_.clear();
        protocol::encodeHeartbeat(scratch_);
        queue(*c, scratch_);
      }
      if (!c->closing && !c->out.empty()) flush(*c);
    }
    serviceRefused(fds, 0, 0, now);
    logBursts(now);

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

void CaptureServer::Loop::accept(Clock::time_point now) {
  // Bounded, so that a flood of connections cannot starve the frames.
  for (int taken = 0; taken < 64; ++taken) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    const int fd =
        accept4(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0 && (errno == ECONNABORTED || errno == EPROTO || errno == EPERM)) {
      continue;  // that connection failed on the way in; the next may not
    }
    if (fd < 0) {
      // Out of descriptors or memory, or worse: nothing a retry at once
      // would mend.
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) pauseAccepting(errno, now);
      return;
    }
    if (acceptFailures_ > 0) {
      const auto seconds =
          std::chrono::duration_cast<std::chrono::seconds>(now - acceptFailingSince_).count();
      log("accepting new clients again, after " + std::to_string(acceptFailures_) +
          " failed attempts in " + std::to_string(seconds) + " s");
      acceptFailures_ = 0;
    }

    const std::string peer = peerName(addr, len);
    const auto* address = addr.ss_family == AF_INET6
                              ? reinterpret_cast<const std::uint8_t*>(
                                    &reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_addr)
                              : reinterpret_cast<const std::uint8_t*>(
                                    &reinterpret_cast<const sockaddr_in*>(&addr)->sin_addr);
    if (!access_.allows(address, addr.ss_family == AF_INET6 ? 16 : 4)) {
      if (strangerBurst_.note(now)) {
        log("client " + peer + " refused: not on the allow-list (serving " + access_.describe() +
            ")");
      }
      close(fd);
      continue;
    }
    if (clients_.size() >= config_.maxClients) {
      refuse(fd, peer, now);
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Client>();
    c->fd = fd;
    c->peer = peer;
    c->connectedAt = c->lastQueued = c->lastHeard = now;
    c->in.resize(kInputBytes);
    log("client " + peer + " connected");
    clients_.push_back(std::move(c));
  }
}

void CaptureServer::Loop::pauseAccepting(int error, Clock::time_point now) {
  acceptBackoff_ = acceptFailures_ == 0
                       ? kAcceptBackoffFirst
                       : std::min<Clock::duration>(acceptBackoff_ * 2, kAcceptBackoffLongest);
  acceptPausedUntil_ = now + acceptBackoff_;
  if (acceptFailures_++ == 0) {
    acceptFailingSince_ = now;
    log(std::string("cannot accept new clients: ") + std::strerror(error) + " (serving " +
        std::to_string(clients_.size()) + " clients); trying again every " +
        std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(kAcceptBackoffLongest).count()) +
        " ms at most, quietly");
  }
}

void CaptureServer::Loop::refuse(int fd, const std::string& peer, Clock::time_point now) {
  const std::string reason = "server full: " + std::to_string(config_.maxClients) + " clients";
  if (fullBurst_.note(now)) log("client " + peer + " refused: " + reason);
  if (refused_.size() >= kMaxRefusedHeld) {
    close(fd);  // a flood: no reason for the rest, and no descriptors spent on them
    return;
  }
  scratch_.clear();
  protocol::encode(protocol::Goodbye{reason}, scratch_);
  // A fresh socket's buffer takes the few bytes at once.
  [[maybe_unused]] const ssize_t n =
      send(fd, scratch_.data(), scratch_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  shutdown(fd, SHUT_WR);
  refused_.push_back({fd, now + kRefusedHeldFor});
}

void CaptureServer::Loop::serviceRefused(const std::vector<pollfd>& fds, std::size_t first,
                                         std::size_t count, Clock::time_point now) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!(fds[first + i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    std::uint8_t sink[4096];
    ssize_t got = 0;
    while ((got = recv(refused_[i].fd, sink, sizeof sink, MSG_DONTWAIT)) > 0) {
    }
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      refused_[i].until = now;  // it has read the reason and gone
    }
  }
  for (std::size_t i = 0; i < refused_.size();) {
    if (now >= refused_[i].until) {
      close(refused_[i].fd);
      refused_[i] = refused_.back();
      refused_.pop_back();
    } else {
      ++i;
    }
  }
}

void CaptureServer::Loop::logBursts(Clock::time_point now) {
  if (const std::size_t more = fullBurst_.due(now)) {
    log("refused " + std::to_string(more) +
        " more clients: server full: " + std::to_string(config_.maxClients) + " clients");
  }
  if (const std::size_t more = strangerBurst_.due(now)) {
    log("refused " + std::to_string(more) + " more clients not on the allow-list");
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
    // Bytes trickling in without ever making a message do not count.
    c.lastHeard = Clock::now();
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
      // An acknowledgement still waiting, with nothing after it, is out of
      // date: the newest one says all the client needs (which request was
      // answered last, and what is served now) in its place.
      if (!c.out.replaceLast(scratch_.data(), scratch_.size())) queue(c, scratch_, true);
      return;
    case ClientRequest::Action::Leave:
      log("client " + c.peer + " said goodbye" +
          (r.text.empty() ? "" : ": " + escapeForLog(r.text)));
      c.closing = true;
      return;
  }
}

void CaptureServer::Loop::fail(Client& c, const std::string& reason) {
  log("client " + c.peer + " " + escapeForLog(reason) + "; closing the connection");
  // Best effort: tell the client why, after whatever it is owed already,
  // without waiting for a client that does not read.
  scratch_.clear();
  protocol::encode(protocol::Goodbye{reason}, scratch_);
  if (c.out.push(scratch_.data(), scratch_.size(), queueLimit() + scratch_.size())) flush(c);
  c.closing = true;
}

void CaptureServer::Loop::queue(Client& c, const std::vector<std::uint8_t>& bytes,
                                bool replaceable) {
  if (c.closing) return;
  if (!c.out.push(bytes.data(), bytes.size(), queueLimit(), replaceable)) {
    return fail(c, "is not reading (" + std::to_string(c.out.size()) + " bytes waiting)");
  }
  c.lastQueued = Clock::now();
  // Only this thread writes the peak, so a plain compare and store will do.
  if (c.out.size() > peakQueuedBytes_.load(std::memory_order_relaxed)) {
    peakQueuedBytes_.store(c.out.size(), std::memory_order_relaxed);
  }
}

void CaptureServer::Loop::flush(Client& c) {
  while (!c.out.empty()) {
    const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.out.consume(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0 && errno == EINTR) continue;
    log("client " + c.peer + " dropped: " + std::strerror(n < 0 ? errno : EPIPE));
    c.closing = true;
    return;
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
  largestSceneMessage_ = std::max(largestSceneMessage_, descriptionBytes_.size());
  // A frame is meaningless without its description, so the description
  // goes first; to a client past its soft limit, once it has caught up
  // (no frame goes to it until then either).
  for (auto& c : clients_) {
    if (c->closing || !c->greeted || c->descriptionSent == descriptionId_ ||
        c->out.size() > config_.queueSoftLimitBytes) {
      continue;
    }
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
    return !c.closing && c.greeted && c.descriptionSent == descriptionId_ &&
           c.out.size() <= config_.queueSoftLimitBytes;
  };
  for (auto& c : clients_) {
    if (takesFrame(*c)) {
      largestSceneMessage_ = std::max(largestSceneMessage_, encodedFrame(c->kinds).size());
    }
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
    if (c->out.push(scratch_.data(), scratch_.size(), queueLimit() + scratch_.size())) flush(*c);
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
  if (config_.maxClients == 0) {
    error = "the server must serve at least one client";
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
  // The longest queue the system allows: a burst of clients (a studio's
  // machines starting at once) waits there instead of retrying a second
  // later.
  if (bind(fd, found->ai_addr, found->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0) {
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
  config_.log("serving clients from " + AccessList(config_.allow).describe());
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
