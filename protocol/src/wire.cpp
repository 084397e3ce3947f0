#include "orbel/protocol/wire.h"

#include <cassert>

namespace orbel::protocol {

void Writer::text(const std::string& s) {
  assert(s.size() <= 0xFFFF && "texts are length-prefixed with a u16");
  u16(static_cast<std::uint16_t>(s.size()));
  out_.insert(out_.end(), s.begin(), s.end());
}

void Writer::patchU32(std::size_t offset, std::uint32_t v) {
  assert(offset + 4 <= out_.size() && "patching past the end of the buffer");
  for (std::size_t i = 0; i < 4; ++i) {
    out_[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

Reader::TextResult Reader::text(std::string& out, std::size_t maxBytes) {
  const std::size_t start = pos_;
  std::uint16_t length = 0;
  if (!u16(length)) return TextResult::Truncated;
  if (length > maxBytes) {
    pos_ = start;
    return TextResult::TooLong;
  }
  if (remaining() < length) {
    pos_ = start;
    return TextResult::Truncated;
  }
  out.assign(reinterpret_cast<const char*>(data_ + pos_), length);
  pos_ += length;
  return TextResult::Ok;
}

}  // namespace orbel::protocol
