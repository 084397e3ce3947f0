// Byte-level reading and writing for the stream protocol: integers byte by
// byte in little-endian order whatever the machine, doubles moved bit for bit
// with memcpy, every read checked against the bytes that remain.
//
// A failed read leaves the cursor where it was, so a caller can report the
// offset of the field that did not fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace orbel::protocol {

// Appends fields to a byte buffer. The buffer keeps its capacity across
// clear(), so a steady stream of messages reuses one allocation.
class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}

  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v) { putLittleEndian(v); }
  void u32(std::uint32_t v) { putLittleEndian(v); }
  void u64(std::uint64_t v) { putLittleEndian(v); }
  void i64(std::int64_t v) { putLittleEndian(static_cast<std::uint64_t>(v)); }
  void f64(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    putLittleEndian(bits);
  }
  // A u16 length then the bytes. The caller keeps the length within the
  // protocol's limits; the encoder asserts it.
  void text(const std::string& s);

  std::size_t size() const { return out_.size(); }
  // Overwrites a u32 written earlier (message lengths are known only at the end).
  void patchU32(std::size_t offset, std::uint32_t v);

 private:
  template <typename T>
  void putLittleEndian(T v) {
    static_assert(std::is_unsigned_v<T>, "raw fields are unsigned");
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
  }

  std::vector<std::uint8_t>& out_;
};

// Reads fields from a byte span it does not own.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool u8(std::uint8_t& v) { return getLittleEndian(v); }
  bool u16(std::uint16_t& v) { return getLittleEndian(v); }
  bool u32(std::uint32_t& v) { return getLittleEndian(v); }
  bool u64(std::uint64_t& v) { return getLittleEndian(v); }
  bool i64(std::int64_t& v) {
    std::uint64_t raw;
    if (!getLittleEndian(raw)) return false;
    v = static_cast<std::int64_t>(raw);
    return true;
  }
  bool f64(double& v) {
    std::uint64_t bits;
    if (!getLittleEndian(bits)) return false;
    std::memcpy(&v, &bits, sizeof v);
    return true;
  }
  // Fails when the text is longer than maxBytes (nothing is read) or when
  // its bytes are not all there.
  enum class TextResult { Ok, Truncated, TooLong };
  TextResult text(std::string& out, std::size_t maxBytes);

  std::size_t offset() const { return pos_; }
  std::size_t remaining() const { return size_ - pos_; }

 private:
  template <typename T>
  bool getLittleEndian(T& v) {
    if (remaining() < sizeof(T)) return false;
    T r = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      r = static_cast<T>(r | (static_cast<T>(data_[pos_ + i]) << (8 * i)));
    }
    v = r;
    pos_ += sizeof(T);
    return true;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace orbel::protocol
