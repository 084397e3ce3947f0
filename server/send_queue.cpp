#include "send_queue.h"

#include <algorithm>
#include <cstring>

namespace orbel::server {

namespace {
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
}

bool SendQueue::push(const std::uint8_t* message, std::size_t size, std::size_t limit,
                     bool replaceable) {
  if (this->size() + size > limit) return false;
  if (bytes_.size() + size > bytes_.capacity() && sent_ > 0) {
    // Room at the front first: what was sent is dead weight.
    std::memmove(bytes_.data(), bytes_.data() + sent_, this->size());
    bytes_.resize(this->size());
    replaceableAt_ =
        replaceableAt_ != kNone && replaceableAt_ >= sent_ ? replaceableAt_ - sent_ : kNone;
    sent_ = 0;
  }
  const std::size_t needed = bytes_.size() + size;
  if (needed > bytes_.capacity()) {
    bytes_.reserve(std::max(needed, std::min(limit, bytes_.capacity() * 2)));
  }
  replaceableAt_ = replaceable ? bytes_.size() : kNone;
  bytes_.insert(bytes_.end(), message, message + size);
  return true;
}

bool SendQueue::replaceLast(const std::uint8_t* message, std::size_t size) {
  if (replaceableAt_ == kNone || replaceableAt_ < sent_ || bytes_.size() - replaceableAt_ != size) {
    return false;
  }
  std::memcpy(bytes_.data() + replaceableAt_, message, size);
  return true;
}

void SendQueue::consume(std::size_t count) {
  sent_ += std::min(count, size());
  if (sent_ == bytes_.size()) clear();
}

void SendQueue::clear() {
  bytes_.clear();
  sent_ = 0;
  replaceableAt_ = kNone;
}

}  // namespace orbel::server
