#include "capture_server.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "Net.h"
#include "client_requests.h"
#include "log_text.h"
#include "orbel/protocol/messages.h"
#include "send_queue.h"
#include "sockets.h"

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

// Why a scene description cannot go on the wire, or empty when it can.
std::string unservable(const protocol::Description& d) {
  if (d.subjects.size() > protocol::kMaxSubjects) {
    return std::to_string(d.subjects.size()) + " subjects, more than " +
           std::to_string(protocol::kMaxSubjects);
  }
  std::size_t segments = 0;
  std::size_t markers = 0;
  auto tooLong = [](const std::string& name) { return name.size() > protocol::kMaxNameBytes; };
  for (const protocol::SubjectInfo& s : d.subjects) {
    if (tooLong(s.name)) return "subject name '" + s.name.substr(0, 40) + "...' is too long";
    for (const protocol::SegmentInfo& seg : s.segments) {
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
        peakQueuedBytes_(counters.peakQueuedBytes_) {}

  ~Loop() {
    for (auto& c : clients_) net::closeSocket(c->fd);
    for (const Refused& r : refused_) net::closeSocket(r.fd);
    net::closeSocket(listenFd_);
  }

  bool open(std::string& error) { return wake_.open(error); }

  void requestStop() {
    stop_ = true;
    wake_.signal();
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
  void pauseAccepting(const std::string& error, Clock::time_point now);
  void refuse(int fd, const std::string& peer, Clock::time_point now);
  void serviceRefused(const SocketWait& ready, std::size_t first, std::size_t count,
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
  Wakeup wake_;
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

  std::shared_ptr<const protocol::Description> description_;
  bool descriptionUsable_ = false;
  bool misfitLogged_ = false;
  std::uint32_t descriptionId_ = 0;
  std::vector<std::uint8_t> descriptionBytes_;
  std::size_t largestSceneMessage_ = 0;

  protocol::Frame frame_;
  // One encoding per combination of kinds, made on demand each tick.
  std::vector<std::uint8_t> encoded_[protocol::Kind::All + 1];
  bool encodedFresh_[protocol::Kind::All + 1] = {};
  std::vector<std::uint8_t> scratch_;
};

void CaptureServer::Loop::run() {
  SocketWait ready;
  std::string error;
  std::uint64_t n = 0;
  Clock::time_point epoch = Clock::now();
  std::uint64_t ticksSinceEpoch = 0;
  auto scheduled = [&] {
    return epoch + std::chrono::nanoseconds(
                       static_cast<std::int64_t>(std::llround(ticksSinceEpoch * period_)));
  };

  while (!stop_) {
    // Laid out as: wake-up, listener, clients, refused clients.
    ready.clear();
    ready.add(wake_.fd(), false);
    // A negative descriptor is skipped by the wait: how accepting pauses.
    ready.add(Clock::now() >= acceptPausedUntil_ ? listenFd_ : -1, false);
    for (auto& c : clients_) ready.add(c->fd, !c->out.empty());
    const std::size_t clientsPolled = clients_.size();
    for (const Refused& r : refused_) ready.add(r.fd, false);
    const std::size_t refusedPolled = refused_.size();

    auto wait = scheduled() - Clock::now();
    const auto housekeeping = std::chrono::milliseconds(50);
    if (wait > housekeeping) wait = housekeeping;
    if (wait < Clock::duration::zero()) wait = Clock::duration::zero();
    if (!ready.wait(std::chrono::duration_cast<std::chrono::nanoseconds>(wait), error)) {
      log("waiting on the sockets failed: " + error);
      break;
    }
    if (stop_) break;
    if (ready.readable(0)) wake_.drain();
    serviceRefused(ready, 2 + clientsPolled, refusedPolled, Clock::now());
    if (ready.readable(1)) accept(Clock::now());
    // Clients accepted just now were not waited on; they are next time.
    for (std::size_t i = 0; i < clientsPolled; ++i) {
      Client& c = *clients_[i];
      if (ready.readable(2 + i)) readFrom(c);
      if (!c.closing && ready.writable(2 + i)) flush(c);
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
    serviceRefused(ready, 0, 0, now);
    logBursts(now);

    for (std::size_t i = 0; i < clients_.size();) {
      if (clients_[i]->closing) {
        if (clients_[i]->framesDropped > 0) {
          log("client " + clients_[i]->peer + " missed " +
              std::to_string(clients_[i]->framesDropped) +
              " frames because it did not read them in time");
        }
        net::closeSocket(clients_[i]->fd);
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
    Peer p;
    std::string error;
    const Accepted outcome = acceptPeer(listenFd_, p, error);
    if (outcome == Accepted::Lost) continue;
    if (outcome == Accepted::None) return;
    if (outcome == Accepted::Exhausted) return pauseAccepting(error, now);
    if (acceptFailures_ > 0) {
      const auto seconds =
          std::chrono::duration_cast<std::chrono::seconds>(now - acceptFailingSince_).count();
      log("accepting new clients again, after " + std::to_string(acceptFailures_) +
          " failed attempts in " + std::to_string(seconds) + " s");
      acceptFailures_ = 0;
    }

    if (!access_.allows(p.address, p.addressBytes)) {
      if (strangerBurst_.note(now)) {
        log("client " + p.name + " refused: not on the allow-list (serving " + access_.describe() +
            ")");
      }
      net::closeSocket(p.fd);
      continue;
    }
    if (clients_.size() >= config_.maxClients) {
      refuse(p.fd, p.name, now);
      continue;
    }
    auto c = std::make_unique<Client>();
    c->fd = p.fd;
    c->peer = p.name;
    c->connectedAt = c->lastQueued = c->lastHeard = now;
    c->in.resize(kInputBytes);
    log("client " + p.name + " connected");
    clients_.push_back(std::move(c));
  }
}

void CaptureServer::Loop::pauseAccepting(const std::string& error, Clock::time_point now) {
  acceptBackoff_ = acceptFailures_ == 0
                       ? kAcceptBackoffFirst
                       : std::min<Clock::duration>(acceptBackoff_ * 2, kAcceptBackoffLongest);
  acceptPausedUntil_ = now + acceptBackoff_;
  if (acceptFailures_++ == 0) {
    acceptFailingSince_ = now;
    log("cannot accept new clients: " + error + " (serving " + std::to_string(clients_.size()) +
        " clients); trying again every " +
        std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(kAcceptBackoffLongest).count()) +
        " ms at most, quietly");
  }
}

void CaptureServer::Loop::refuse(int fd, const std::string& peer, Clock::time_point now) {
  const std::string reason = "server full: " + std::to_string(config_.maxClients) + " clients";
  if (fullBurst_.note(now)) log("client " + peer + " refused: " + reason);
  if (refused_.size() >= kMaxRefusedHeld) {
    net::closeSocket(fd);  // a flood: no reason for the rest, and no descriptors spent on them
    return;
  }
  scratch_.clear();
  protocol::encode(protocol::Goodbye{reason}, scratch_);
  // A fresh socket's buffer takes the few bytes at once.
  std::string ignored;
  sendNow(fd, scratch_.data(), scratch_.size(), ignored);
  shutdownSending(fd);
  refused_.push_back({fd, now + kRefusedHeldFor});
}

void CaptureServer::Loop::serviceRefused(const SocketWait& ready, std::size_t first,
                                         std::size_t count, Clock::time_point now) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!ready.readable(first + i)) continue;
    std::uint8_t sink[4096];
    std::size_t got = 0;
    std::string ignored;
    net::Received r = net::Received::Bytes;
    while ((r = net::receiveSome(refused_[i].fd, sink, sizeof sink, got, ignored)) ==
           net::Received::Bytes) {
    }
    if (r != net::Received::Again) refused_[i].until = now;  // it has read the reason and gone
  }
  for (std::size_t i = 0; i < refused_.size();) {
    if (now >= refused_[i].until) {
      net::closeSocket(refused_[i].fd);
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
  std::size_t n = 0;
  std::string error;
  switch (net::receiveSome(c.fd, c.in.data() + c.inUsed, c.in.size() - c.inUsed, n, error)) {
    case net::Received::Bytes:
      break;
    case net::Received::Again:
      return;
    case net::Received::Closed:
      log("client " + c.peer + " disconnected");
      c.closing = true;
      return;
    case net::Received::Failed:
      log("client " + c.peer + " dropped: " + error);
      c.closing = true;
      return;
  }
  c.inUsed += n;
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
  std::string error;
  while (!c.out.empty()) {
    const long n = sendNow(c.fd, c.out.data(), c.out.size(), error);
    if (n == 0) return;
    if (n < 0) {
      log("client " + c.peer + " dropped: " + error);
      c.closing = true;
      return;
    }
    c.out.consume(static_cast<std::size_t>(n));
  }
}

const std::vector<std::uint8_t>& CaptureServer::Loop::encodedFrame(std::uint8_t kinds) {
  std::vector<std::uint8_t>& bytes = encoded_[kinds & protocol::Kind::All];
  if (!encodedFresh_[kinds & protocol::Kind::All]) {
    bytes.clear();
    protocol::encode(frame_, kinds, bytes);
    encodedFresh_[kinds & protocol::Kind::All] = true;
  }
  return bytes;
}

void CaptureServer::Loop::tick(std::uint64_t n) {
  std::shared_ptr<const protocol::Description> description = scene_.descriptionAt(n);
  if (description != description_) {
    description_ = description;
    misfitLogged_ = false;
    const std::string problem = description ? unservable(*description) : "there is none";
    descriptionUsable_ = problem.empty();
    if (!descriptionUsable_) {
      log("the scene's description from frame " + std::to_string(n) +
          " cannot be served: " + problem);
    } else {
      protocol::Description numbered = *description;
      numbered.id = ++descriptionId_;
      descriptionBytes_.clear();
      protocol::encode(numbered, descriptionBytes_);
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

  protocol::Frame& w = frame_;
  scene_.frameAt(n, w);
  const std::string problem = misfit(*description_, w);
  if (!problem.empty()) {
    if (!misfitLogged_) {
      log("scene frame " + std::to_string(n) + " does not match its description (" + problem +
          "); such frames are not sent");
      misfitLogged_ = true;
    }
    return;
  }

  w.number = n;
  w.descriptionId = descriptionId_;
  if (!scene_.providesTimecode()) w.timecode = timecodeAtFrame(n, rate_, config_.timecode);
  w.kinds = protocol::Kind::All;
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
  w.serverSendTimeNs = net::monotonicNowNs();
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

  const int fd = listenOn(config_.bindAddress, config_.port, boundPort_, error);
  if (fd < 0) return false;
  loop_ = std::make_unique<Loop>(*scene_, config_, fps_, fd, *this);
  if (std::string why; !loop_->open(why)) {
    error = "cannot create the server's wake-up event: " + why;
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
