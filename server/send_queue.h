// What the server has yet to send to one client: whole messages in order,
// in one buffer that never holds more than the limit it is given, and never
// reserves more either, so that a client's cost to the server is the limit
// and not what a growth policy rounds it up to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbel::server {

class SendQueue {
 public:
  std::size_t size() const { return bytes_.size() - sent_; }  // bytes waiting
  bool empty() const { return size() == 0; }
  // Memory held, waiting or not: at most the largest limit passed to push.
  std::size_t capacity() const { return bytes_.capacity(); }

  // Appends a message unless the queue would then hold more than limit
  // bytes: false then, and nothing appended. A message pushed `replaceable`
  // may be overwritten by replaceLast while it is the newest and none of it
  // has been sent.
  bool push(const std::uint8_t* message, std::size_t size, std::size_t limit,
            bool replaceable = false);
  // Overwrites the newest message with one of the same size, when it was
  // pushed replaceable and is still whole in the queue; false otherwise.
  bool replaceLast(const std::uint8_t* message, std::size_t size);

  const std::uint8_t* data() const { return bytes_.data() + sent_; }
  // The first `count` waiting bytes went out.
  void consume(std::size_t count);
  void clear();

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t sent_ = 0;
  // Where the newest message starts, when it may be replaced; else npos.
  std::size_t replaceableAt_ = static_cast<std::size_t>(-1);
};

}  // namespace orbel::server
