#include "png.h"

#include <cassert>
#include <string>

namespace fbhost_internal {
namespace {

void Put32(std::vector<std::uint8_t>* out, std::uint32_t value) {
  out->push_back(static_cast<std::uint8_t>(value >> 24));
  out->push_back(static_cast<std::uint8_t>(value >> 16));
  out->push_back(static_cast<std::uint8_t>(value >> 8));
  out->push_back(static_cast<std::uint8_t>(value));
}

void Chunk(std::vector<std::uint8_t>* out, const char type[4],
           const std::vector<std::uint8_t>& data) {
  Put32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = out->size();
  out->insert(out->end(), type, type + 4);
  out->insert(out->end(), data.begin(), data.end());
  // The CRC covers the type and the data.
  Put32(out, Crc32(out->data() + typeAt, 4 + data.size()));
}

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::uint32_t Adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler) {
  std::uint32_t a = adler & 0xFFFF, b = adler >> 16;
  for (std::size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<Rgb>& palette,
                                    const std::vector<std::uint8_t>& pixels) {
  assert(width > 0 && height > 0 && "a picture has at least one pixel");
  assert(!palette.empty() && palette.size() <= 256 && "1 to 256 palette colours");
  assert(pixels.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height) &&
         "one index per pixel");
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

  std::vector<std::uint8_t> header;
  Put32(&header, static_cast<std::uint32_t>(width));
  Put32(&header, static_cast<std::uint32_t>(height));
  header.push_back(8);  // bit depth
  header.push_back(3);  // colour type: indexed
  header.push_back(0);  // deflate
  header.push_back(0);  // adaptive filtering
  header.push_back(0);  // no interlace
  Chunk(&png, "IHDR", header);

  std::vector<std::uint8_t> colours;
  for (const Rgb& c : palette) colours.insert(colours.end(), c.begin(), c.end());
  Chunk(&png, "PLTE", colours);

  // The filtered rows: each row starts with filter type 0 (none).
  std::vector<std::uint8_t> raw;
  raw.reserve(pixels.size() + static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    const auto row = pixels.begin() + static_cast<std::ptrdiff_t>(y) * width;
    raw.insert(raw.end(), row, row + width);
  }

  // zlib: header, stored deflate blocks of at most 65535 bytes, Adler-32.
  std::vector<std::uint8_t> zlib = {0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t length = std::min<std::size_t>(raw.size() - at, 65535);
    const bool last = at + length == raw.size();
    zlib.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00
    zlib.push_back(static_cast<std::uint8_t>(length));
    zlib.push_back(static_cast<std::uint8_t>(length >> 8));
    zlib.push_back(static_cast<std::uint8_t>(~length));
    zlib.push_back(static_cast<std::uint8_t>(~length >> 8));
    zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                raw.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  } while (at < raw.size());
  Put32(&zlib, Adler32(raw.data(), raw.size()));
  Chunk(&png, "IDAT", zlib);
  Chunk(&png, "IEND", {});
  return png;
}

}  // namespace fbhost_internal
