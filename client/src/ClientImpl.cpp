#include "ClientImpl.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

namespace OrbelDataStreamSDK::CPP {

namespace protocol = orbel::protocol;
using orbel::net::Clock;

namespace {

constexpr std::size_t kInitialReadBuffer = std::size_t{256} * 1024;
constexpr std::size_t kReadChunk = std::size_t{64} * 1024;

std::uint32_t peekBodyBytes(const std::uint8_t* header) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(header[4 + i]) << (8 * i);
  return v;
}

void swapSnapshots(orbel::client::Snapshot& a, orbel::client::Snapshot& b) {
  std::swap(a.frame, b.frame);
  a.description.swap(b.description);
  std::swap(a.receiveTimeNs, b.receiveTimeNs);
}

std::uint64_t nextStateVersion() {
  static std::atomic<std::uint64_t> counter{0};
  return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

// Keeps the state this thread last read (see ThreadView) alive, as its
// client may go first, and counted as read, so that it is not refilled;
// touched only when the thread moves on to another state, and when it ends.
class KeptState {
 public:
  KeptState() = default;
  KeptState(const KeptState&) = delete;
  KeptState& operator=(const KeptState&) = delete;
  ~KeptState() { letGo(); }

  void keep(const std::shared_ptr<orbel::client::TakenState>& state) {
    state->readers.fetch_add(1, std::memory_order_relaxed);
    letGo();
    state_ = state;
  }

 private:
  void letGo() {
    if (state_) state_->readers.fetch_sub(1, std::memory_order_release);
    state_.reset();
  }

  std::shared_ptr<orbel::client::TakenState> state_;
};
thread_local KeptState tKeptReference;

}  // namespace

Client::Impl::Impl() : current(std::make_shared<orbel::client::TakenState>()) {
  current->version = nextStateVersion();
  currentVersion.store(current->version, std::memory_order_relaxed);
  states.push_back(current);
}

Client::Impl::~Impl() { joinReceiver(); }

const orbel::client::TakenState& Client::Impl::viewAfterChange() const {
  orbel::client::ThreadView& kept = orbel::client::tThreadView;
  TakenGuard lock(taken);
  tKeptReference.keep(current);
  kept.state = current.get();
  kept.version = current->version;
  return *kept.state;
}

std::shared_ptr<orbel::client::TakenState> Client::Impl::spareState() {
  for (const auto& state : states) {
    // Kept by no thread, and none can start to keep it: only the current
    // state is handed out, under taken, which the caller holds.
    if (state != current && state->readers.load(std::memory_order_acquire) == 0) return state;
  }
  states.push_back(std::make_shared<orbel::client::TakenState>());
  return states.back();
}

void Client::Impl::publish(std::shared_ptr<orbel::client::TakenState> next) {
  next->version = nextStateVersion();
  current = std::move(next);
  currentVersion.store(current->version, std::memory_order_relaxed);
}

void Client::Impl::joinReceiver() {
  if (receiver.joinable()) {
    stopRequested = true;
    // Wakes a receive thread blocked in poll or recv at once.
    if (fd >= 0) orbel::net::shutdownSocket(fd);
    receiver.join();
  }
  if (fd >= 0) {
    orbel::net::closeSocket(fd);
    fd = -1;
  }
  connected = false;
}

Result::Enum Client::Impl::connect(const std::string& address) {
  if (connected) return Result::ClientAlreadyConnected;
  // A connection the server dropped leaves its thread finished but not joined.
  joinReceiver();

  auto fail = [this](Result::Enum why, std::string text) {
    if (fd >= 0) {
      orbel::net::closeSocket(fd);
      fd = -1;
    }
    std::lock_guard<std::mutex> lock(state);
    lastError = why;
    lastErrorText = std::move(text);
    return why;
  };

  orbel::net::HostPort where;
  std::string error;
  if (!orbel::net::parseHostPort(address, where, error)) {
    return fail(Result::InvalidHostName, error);
  }
  const auto deadline = Clock::now() + kHandshakeTimeout;
  orbel::net::ConnectError code = orbel::net::ConnectError::None;
  fd = orbel::net::connectTo(where, deadline, code, error);
  if (fd < 0) {
    return fail(code == orbel::net::ConnectError::BadHost ? Result::InvalidHostName
                                                          : Result::ConnectionFailed,
                error);
  }

  std::uint8_t wishes = 0;
  std::uint32_t sequence = 0;
  {
    std::lock_guard<std::mutex> lock(state);
    wishes = wanted;
    acked = 0;
    ackedSequence = sentSequence;
    sequence = ++sentSequence;
  }
  sendBuffer.clear();
  protocol::ClientHello hello;
  hello.clientName = "OrbelMoBuStreamData";
  protocol::encode(hello, sendBuffer);
  // Wishes given before connecting apply from the first frame on.
  if (wishes != 0) protocol::encode(protocol::Want{sequence, wishes}, sendBuffer);
  if (!sendMessages(sendBuffer, deadline, error)) {
    return fail(Result::ConnectionFailed, "handshake with " + address + " failed: " + error);
  }

  readBuffer.resize(kInitialReadBuffer);
  readUsed = 0;
  description.reset();
  {
    std::lock_guard<std::mutex> lock(pending);
    pendingFresh = false;
  }

  // Wait for the greeting; whatever follows it stays in the buffer for the
  // receive thread.
  for (;;) {
    protocol::MessageView m;
    const protocol::Error e =
        protocol::splitMessage(readBuffer.data(), readUsed, protocol::kMaxServerBodyBytes, m);
    if (e == protocol::Error::None) {
      if (m.type == protocol::MessageType::Goodbye) {
        protocol::Goodbye bye;
        std::string detail;
        protocol::decode(m.body, m.bodyBytes, bye, detail);
        return fail(Result::ConnectionFailed, "server at " + address + " refused: " + bye.reason);
      }
      protocol::ServerHello serverHello;
      std::string detail;
      if (m.type != protocol::MessageType::ServerHello) {
        return fail(Result::ProtocolError, "server at " + address + " did not greet first");
      }
      if (protocol::decode(m.body, m.bodyBytes, serverHello, detail) != protocol::Error::None) {
        return fail(Result::ProtocolError, "server greeting: " + detail);
      }
      if (serverHello.version != protocol::kVersion) {
        return fail(Result::ProtocolError,
                    "server speaks protocol version " + std::to_string(serverHello.version) +
                        ", this client " + std::to_string(protocol::kVersion));
      }
      std::memmove(readBuffer.data(), readBuffer.data() + m.totalBytes, readUsed - m.totalBytes);
      readUsed -= m.totalBytes;
      break;
    }
    if (e != protocol::Error::Incomplete) {
      return fail(Result::ProtocolError, std::string("server greeting: ") + protocol::errorName(e));
    }
    if (readUsed == readBuffer.size()) {
      return fail(Result::ProtocolError, "server greeting is too large");
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || orbel::net::waitReadable(fd, static_cast<int>(left), error) <= 0) {
      return fail(Result::ConnectionFailed, "server at " + address + " did not greet within 1 s");
    }
    std::size_t n = 0;
    const auto got = orbel::net::receiveSome(fd, readBuffer.data() + readUsed,
                                             readBuffer.size() - readUsed, n, error);
    if (got == orbel::net::Received::Closed || got == orbel::net::Received::Failed) {
      return fail(Result::ConnectionFailed, "server at " + address + " closed the connection");
    }
    if (got == orbel::net::Received::Bytes) {
      readUsed += n;
      bytesReceived += static_cast<std::uint64_t>(n);
    }
  }

  {
    std::lock_guard<std::mutex> lock(state);
    lastError = Result::Success;
    lastErrorText.clear();
  }
  stopRequested = false;
  connected = true;
  try {
    receiver = std::thread([this] { receiveLoop(); });
  } catch (...) {
    connected = false;
    return fail(Result::Unknown, "cannot start the receive thread");
  }
  return Result::Success;
}

Result::Enum Client::Impl::disconnect() {
  if (fd < 0) return Result::NotConnected;
  if (connected) {
    sendBuffer.clear();
    protocol::encode(protocol::Goodbye{"client disconnecting"}, sendBuffer);
    std::string ignored;
    sendMessages(sendBuffer, Clock::now() + std::chrono::milliseconds(100), ignored);
  }
  joinReceiver();
  {
    std::lock_guard<std::mutex> lock(state);
    acked = 0;
  }
  stateChanged.notify_all();
  return Result::Success;
}

Result::Enum Client::Impl::requestKinds(std::uint8_t kinds) {
  std::uint32_t sequence = 0;
  {
    std::lock_guard<std::mutex> lock(state);
    wanted = kinds;
    if (!connected) return Result::NotConnected;
    sequence = ++sentSequence;
  }
  sendBuffer.clear();
  protocol::encode(protocol::Want{sequence, kinds}, sendBuffer);
  std::string error;
  if (!sendMessages(sendBuffer, Clock::now() + kAckTimeout, error)) {
    return Result::NotConnected;
  }
  std::unique_lock<std::mutex> lock(state);
  const bool answered = stateChanged.wait_for(lock, kAckTimeout, [&] {
    return !connected || static_cast<std::int32_t>(ackedSequence - sequence) >= 0;
  });
  if (!connected) return Result::NotConnected;
  // A server that takes the request but never answers is as good as gone
  // for the caller; the connection stays, the flags keep the last answer.
  return answered ? Result::Success : Result::ConnectionFailed;
}

bool Client::Impl::sendMessages(const std::vector<std::uint8_t>& bytes, Clock::time_point deadline,
                                std::string& error) {
  std::lock_guard<std::mutex> lock(sending);
  lastSent = Clock::now();
  return orbel::net::sendAll(fd, bytes.data(), bytes.size(), deadline, error);
}

void Client::Impl::sendHeartbeatWhenDue() {
  {
    std::lock_guard<std::mutex> lock(sending);
    if (Clock::now() - lastSent < kHeartbeatInterval) return;
  }
  if (heartbeat.empty()) protocol::encodeHeartbeat(heartbeat);
  // A heartbeat that cannot go out means a connection in trouble, which
  // the receiving side notices and reports.
  std::string ignored;
  sendMessages(heartbeat, Clock::now() + kAckTimeout, ignored);
}

void Client::Impl::dropConnection(Result::Enum why, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(state);
    lastError = why;
    lastErrorText = text;
    acked = 0;
    connected = false;
  }
  stateChanged.notify_all();
}

void Client::Impl::receiveLoop() {
  auto lastHeard = Clock::now();
  while (!stopRequested) {
    if (!drainMessages()) return;
    if (readUsed == readBuffer.size()) {
      // drainMessages left one incomplete message at the front; make room
      // for all of it (its length was checked against the limit).
      const std::size_t whole = protocol::kHeaderBytes + peekBodyBytes(readBuffer.data());
      readBuffer.resize(std::max(whole, readBuffer.size() + kReadChunk));
    }
    sendHeartbeatWhenDue();
    std::string error;
    const int rc = orbel::net::waitReadable(fd, kPollMs, error);
    if (stopRequested) return;
    if (rc == 0) {
      if (Clock::now() - lastHeard > kSilenceLimit) {
        dropConnection(Result::NotConnected, "the server went silent");
        return;
      }
      continue;
    }
    if (rc < 0) {
      dropConnection(Result::NotConnected, error);
      return;
    }
    std::size_t n = 0;
    const auto got = orbel::net::receiveSome(fd, readBuffer.data() + readUsed,
                                             readBuffer.size() - readUsed, n, error);
    if (got == orbel::net::Received::Closed) {
      dropConnection(Result::NotConnected, "the server closed the connection");
      return;
    }
    if (got == orbel::net::Received::Again) continue;
    if (got == orbel::net::Received::Failed) {
      dropConnection(Result::NotConnected, error);
      return;
    }
    readUsed += n;
    bytesReceived.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
    lastHeard = Clock::now();
  }
}

bool Client::Impl::drainMessages() {
  std::size_t offset = 0;
  bool ok = true;
  while (ok) {
    protocol::MessageView m;
    const protocol::Error e = protocol::splitMessage(readBuffer.data() + offset, readUsed - offset,
                                                     protocol::kMaxServerBodyBytes, m);
    if (e == protocol::Error::Incomplete) break;
    if (e != protocol::Error::None) {
      dropConnection(Result::ProtocolError,
                     std::string("the server sent a corrupt stream: ") + protocol::errorName(e));
      return false;
    }
    ok = handleMessage(m);
    offset += m.totalBytes;
  }
  if (offset > 0) {
    std::memmove(readBuffer.data(), readBuffer.data() + offset, readUsed - offset);
    readUsed -= offset;
  }
  return ok;
}

bool Client::Impl::handleMessage(const protocol::MessageView& m) {
  auto corrupt = [this](const std::string& what) {
    dropConnection(Result::ProtocolError, "the server sent a bad " + what);
    return false;
  };
  switch (m.type) {
    case protocol::MessageType::Frame: {
      protocol::Frame& frame = decoding.frame;
      if (protocol::decode(m.body, m.bodyBytes, frame, decodeDetail) != protocol::Error::None) {
        return corrupt("frame: " + decodeDetail);
      }
      if (!description || frame.descriptionId != description->id()) {
        return corrupt("frame: frame " + std::to_string(frame.number) + " names description " +
                       std::to_string(frame.descriptionId) + ", which was never sent");
      }
      const auto& subjects = description->subjects();
      if (frame.kinds & protocol::Kind::Segments) {
        bool same = frame.segmentCounts.size() == subjects.size();
        for (std::size_t s = 0; same && s < subjects.size(); ++s) {
          same = frame.segmentCounts[s] == subjects[s].segments.size();
        }
        if (!same) return corrupt("frame: its segments do not match the description");
      }
      if (frame.kinds & protocol::Kind::Markers) {
        bool same = frame.markerCounts.size() == subjects.size();
        for (std::size_t s = 0; same && s < subjects.size(); ++s) {
          same = frame.markerCounts[s] == subjects[s].markers.size();
        }
        if (!same) return corrupt("frame: its markers do not match the description");
      }
      decoding.description = description;
      decoding.receiveTimeNs = orbel::net::monotonicNowNs();
      {
        // Counted with the handing over, so that a frame counted is a frame
        // a caller can take: counted after, a caller could take the newest
        // while the count still lacked it.
        std::lock_guard<std::mutex> lock(pending);
        swapSnapshots(decoding, pendingFrame);
        pendingFresh = true;
        framesReceived.fetch_add(1, std::memory_order_relaxed);
      }
      return true;
    }
    case protocol::MessageType::Description: {
      protocol::Description d;
      if (protocol::decode(m.body, m.bodyBytes, d, decodeDetail) != protocol::Error::None) {
        return corrupt("description: " + decodeDetail);
      }
      description = orbel::client::DescriptionIndex::build(std::move(d));
      return true;
    }
    case protocol::MessageType::WantAck: {
      protocol::WantAck ack;
      if (protocol::decode(m.body, m.bodyBytes, ack, decodeDetail) != protocol::Error::None) {
        return corrupt("acknowledgement: " + decodeDetail);
      }
      // A frame that arrived before the acknowledgement may lack a kind the
      // caller has just been told is on; it must not be the next one taken.
      const std::uint8_t needed = ack.kinds & (protocol::Kind::Segments | protocol::Kind::Markers |
                                               protocol::Kind::Unlabeled);
      {
        std::lock_guard<std::mutex> lock(pending);
        if (pendingFresh && (pendingFrame.frame.kinds & needed) != needed) pendingFresh = false;
      }
      {
        std::lock_guard<std::mutex> lock(state);
        acked = ack.kinds;
        ackedSequence = ack.sequence;
      }
      stateChanged.notify_all();
      return true;
    }
    case protocol::MessageType::Goodbye: {
      protocol::Goodbye bye;
      if (protocol::decode(m.body, m.bodyBytes, bye, decodeDetail) != protocol::Error::None) {
        return corrupt("goodbye: " + decodeDetail);
      }
      dropConnection(Result::NotConnected, "the server closed the connection: " + bye.reason);
      return false;
    }
    case protocol::MessageType::Heartbeat:
      if (protocol::decodeHeartbeat(m.body, m.bodyBytes, decodeDetail) != protocol::Error::None) {
        return corrupt("heartbeat: " + decodeDetail);
      }
      return true;
    case protocol::MessageType::ClientHello:
    case protocol::MessageType::ServerHello:
    case protocol::MessageType::Want:
      return corrupt("message: type " + std::to_string(static_cast<int>(m.type)) +
                     " is not expected from a server after the greeting");
  }
  return corrupt("message");
}

}  // namespace OrbelDataStreamSDK::CPP
