// The client's inner state: one connection, its receive thread and the
// frame hand-off between that thread and the callers.
//
// Locks, always taken in this order when nested:
//   control  serialises Connect, Disconnect and the requests that wait for
//            the server's acknowledgement;
//   taken    publishing what the queries read (the frame last taken by
//            GetFrame and the axis mapping); queries themselves take it
//            only when that has changed since their thread last looked (a
//            spin lock: see QueryLock and TakenState);
//   pending  the newest frame the receive thread has published;
//   state    wishes, acknowledgements and the last error (with a condition
//            variable for the waiters);
//   sending  one send on the socket at a time (a caller's request, the
//            receive thread's heartbeat); nothing is taken while it is held.
// The receive thread takes pending and state only, never both at once, so a
// caller never waits behind network I/O; it sends only a heartbeat of a few
// bytes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AxisMapping.h"
#include "DescriptionIndex.h"
#include "Net.h"
#include "OrbelDataStreamSDK/Client.h"
#include "orbel/protocol/messages.h"

namespace orbel::client {

namespace sdk = OrbelDataStreamSDK::CPP;
// The client's own sockets (net/), named here as the client's since every
// part of the client speaks through them.
using net::Clock;
using net::ConnectError;
using net::HostPort;
using net::Received;

// Guards what the queries read. A frame's worth of queries takes it a few
// thousand times and each holds it only for a lookup and a copy, never
// across I/O or a wait, so a spin on one atomic costs far less than a
// mutex's calls into the thread library; a waiter yields its core rather
// than burn it.
class QueryLock {
 public:
  void lock() noexcept {
    while (held_.exchange(true, std::memory_order_acquire)) {
      while (held_.load(std::memory_order_relaxed)) std::this_thread::yield();
    }
  }
  void unlock() noexcept { held_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held_{false};
};

// One frame as received, with the description it is laid out against.
struct Snapshot {
  protocol::Frame frame;
  std::shared_ptr<const DescriptionIndex> description;
  std::int64_t receiveTimeNs = 0;
};

// What every query reads: the frame last taken and the axis mapping. A state
// is never changed while published: GetFrame and SetAxisMapping fill a spare
// one and publish it in place of the current one. Each thread keeps the
// state it last read (with a reference, so it cannot be refilled under it)
// and goes back to the lock only when another has been published. A frame's
// worth of queries, a few thousand, thus costs no locked instruction each,
// which would otherwise be a sixth of the time of reading a large frame.
struct TakenState {
  Snapshot snapshot;
  AxisMapping mapping;
  bool haveFrame = false;
  // Unique in the process, so that a thread's kept state cannot be taken
  // for another client's.
  std::uint64_t version = 0;
  // Threads keeping this state. A thread lets go with a release and the
  // client refills a state only after seeing 0 with an acquire, so every
  // read of a kept state happens before it is refilled.
  std::atomic<int> readers{0};
};

// The state this thread read last, of whichever client it asked last. Plain
// data with a constant initializer, defined inline so that every query reads
// it directly, with no guard for first use.
struct ThreadView {
  std::uint64_t version = 0;
  const TakenState* state = nullptr;
};
#if defined(__ELF__)
// Initial-exec: a fixed offset from the thread pointer, where the general
// model calls into the dynamic linker on every query. It takes 16 bytes of
// the static TLS the C library keeps for libraries loaded later.
inline thread_local ThreadView tThreadView __attribute__((tls_model("initial-exec")));
#else
inline thread_local ThreadView tThreadView;
#endif

}  // namespace orbel::client

namespace OrbelDataStreamSDK::CPP {

struct Client::Impl {
  using Snapshot = orbel::client::Snapshot;

  // How long Connect waits for the server's greeting, and a request for the
  // server's acknowledgement.
  static constexpr std::chrono::milliseconds kHandshakeTimeout{1000};
  static constexpr std::chrono::milliseconds kAckTimeout{1000};
  // The server sends at least a heartbeat this often; silence for longer
  // than this means a connection that died without closing.
  static constexpr std::chrono::milliseconds kSilenceLimit{2000};
  // How often the receive thread wakes to look at the clock and stop flag.
  static constexpr int kPollMs = 50;
  // The client sends a heartbeat when it has sent nothing else for this
  // long: the server drops a client it has not heard from for a while (10 s
  // unless configured), to free its slot.
  static constexpr std::chrono::milliseconds kHeartbeatInterval{500};

  ~Impl();

  // Connection lifecycle; the caller holds control.
  Result::Enum connect(const std::string& address);
  Result::Enum disconnect();
  // Asks the server for a new set of kinds and waits for its answer; the
  // caller holds control.
  Result::Enum requestKinds(std::uint8_t kinds);

  void receiveLoop();
  // Handles every whole message in the read buffer; false when the
  // connection must drop (reason already recorded).
  bool drainMessages();
  bool handleMessage(const orbel::protocol::MessageView& m);
  void dropConnection(Result::Enum why, const std::string& text);
  // Sends whole messages on fd; the caller's thread and the receive
  // thread's heartbeats both do, so one send waits for the other.
  bool sendMessages(const std::vector<std::uint8_t>& bytes, orbel::net::Clock::time_point deadline,
                    std::string& error);
  // On the receive thread.
  void sendHeartbeatWhenDue();
  void joinReceiver();

  std::mutex control;

  Impl();

  // The state the queries read on the calling thread: the current one, or
  // one published just before, never one being filled.
  const orbel::client::TakenState& view() const {
    const orbel::client::ThreadView& kept = orbel::client::tThreadView;
    // Relaxed is enough: an equal version means the state kept is that very
    // state, and a different one sends the thread through the lock, which
    // orders everything the publisher wrote.
    if (kept.version != currentVersion.load(std::memory_order_relaxed)) return viewAfterChange();
    return *kept.state;
  }
  const orbel::client::TakenState& viewAfterChange() const;
  // A state nobody reads, to fill and publish; the caller holds taken. May
  // allocate (and throw) while every state is still being read.
  std::shared_ptr<orbel::client::TakenState> spareState();
  // Makes the filled state current; the caller holds taken.
  void publish(std::shared_ptr<orbel::client::TakenState> next);

  using TakenGuard = std::lock_guard<orbel::client::QueryLock>;
  mutable orbel::client::QueryLock taken;
  std::shared_ptr<orbel::client::TakenState> current;  // never null
  // Every state made, current included; they are refilled, not freed.
  std::vector<std::shared_ptr<orbel::client::TakenState>> states;
  std::atomic<std::uint64_t> currentVersion{0};

  std::mutex pending;
  Snapshot pendingFrame;
  bool pendingFresh = false;

  mutable std::mutex state;
  std::condition_variable stateChanged;
  std::uint8_t wanted = 0;  // what the caller asked for, kept across connections
  std::uint8_t acked = 0;   // what the server last acknowledged; 0 when not connected
  std::uint32_t sentSequence = 0;
  std::uint32_t ackedSequence = 0;
  Result::Enum lastError = Result::Success;
  std::string lastErrorText;

  std::atomic<bool> connected{false};
  std::atomic<bool> stopRequested{false};
  std::atomic<std::uint64_t> bytesReceived{0};
  std::atomic<std::uint64_t> framesReceived{0};

  // Owned by the receive thread while it runs.
  int fd = -1;
  std::thread receiver;
  std::vector<std::uint8_t> readBuffer;
  std::size_t readUsed = 0;
  Snapshot decoding;
  std::shared_ptr<const orbel::client::DescriptionIndex> description;
  std::string decodeDetail;
  std::vector<std::uint8_t> sendBuffer;
  std::vector<std::uint8_t> heartbeat;

  std::mutex sending;
  orbel::net::Clock::time_point lastSent;  // under sending
};

}  // namespace OrbelDataStreamSDK::CPP
