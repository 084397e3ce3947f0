// png_reader.h: a strict reader for the PNG pictures the host writes, with
// its own CRC-32 and Adler-32, so that a picture is checked by code that
// shares nothing with the writer. It reads 8-bit indexed pictures whose
// image data sits in stored (uncompressed) deflate blocks; anything else is
// refused with a reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecodedPng {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> palette;  // 0xRRGGBB
  std::vector<std::uint8_t> indexes;   // width * height
  std::uint32_t Rgb(int x, int y) const {
    return palette[indexes[static_cast<std::size_t>(y) * width + x]];
  }
};

namespace png_reader_detail {

inline std::uint32_t Crc(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

inline std::uint32_t Adler(const std::vector<std::uint8_t>& data) {
  std::uint64_t a = 1, b = 0;
  for (std::uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return static_cast<std::uint32_t>((b << 16) | a);
}

inline std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

}  // namespace png_reader_detail

inline bool DecodePng(const std::vector<std::uint8_t>& png, DecodedPng* out, std::string* error) {
  using namespace png_reader_detail;
  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (png.size() < 8 || !std::equal(kSignature, kSignature + 8, png.begin())) {
    *error = "no PNG signature";
    return false;
  }
  std::vector<std::uint8_t> zlib;
  bool sawHeader = false, sawEnd = false;
  std::size_t at = 8;
  while (at < png.size()) {
    if (png.size() - at < 12) {
      *error = "a chunk is cut short at byte " + std::to_string(at);
      return false;
    }
    const std::uint32_t length = Be32(&png[at]);
    if (length > png.size() - at - 12) {
      *error = "a chunk's length runs past the end";
      return false;
    }
    const std::string type(png.begin() + static_cast<long>(at) + 4,
                           png.begin() + static_cast<long>(at) + 8);
    const std::uint8_t* data = &png[at + 8];
    if (Crc(&png[at + 4], length + 4) != Be32(&png[at + 8 + length])) {
      *error = "bad CRC in chunk " + type;
      return false;
    }
    if (type == "IHDR") {
      if (length != 13 || data[8] != 8 || data[9] != 3 || data[10] || data[11] || data[12]) {
        *error = "not an 8-bit indexed, non-interlaced picture";
        return false;
      }
      out->width = static_cast<int>(Be32(data));
      out->height = static_cast<int>(Be32(data + 4));
      sawHeader = true;
    } else if (type == "PLTE") {
      if (length % 3 != 0 || length == 0) {
        *error = "bad palette length";
        return false;
      }
      for (std::uint32_t i = 0; i < length; i += 3) {
        out->palette.push_back((std::uint32_t{data[i]} << 16) | (data[i + 1] << 8) | data[i + 2]);
      }
    } else if (type == "IDAT") {
      zlib.insert(zlib.end(), data, data + length);
    } else if (type == "IEND") {
      sawEnd = true;
      if (at + 12 + length != png.size()) {
        *error = "bytes after IEND";
        return false;
      }
    }
    at += 12 + length;
  }
  if (!sawHeader || !sawEnd || out->palette.empty()) {
    *error = "IHDR, PLTE or IEND missing";
    return false;
  }
  // zlib: CMF/FLG, stored blocks, Adler-32.
  if (zlib.size() < 6 || (zlib[0] & 0x0F) != 8 || ((zlib[0] << 8) | zlib[1]) % 31 != 0) {
    *error = "bad zlib header";
    return false;
  }
  std::vector<std::uint8_t> raw;
  std::size_t z = 2;
  for (bool last = false; !last;) {
    if (z + 5 > zlib.size()) {
      *error = "deflate data cut short";
      return false;
    }
    last = (zlib[z] & 1) != 0;
    if ((zlib[z] >> 1) != 0) {
      *error = "a deflate block that is not stored";
      return false;
    }
    const unsigned len = zlib[z + 1] | (zlib[z + 2] << 8);
    const unsigned nlen = zlib[z + 3] | (zlib[z + 4] << 8);
    if ((len ^ 0xFFFFu) != nlen || z + 5 + len > zlib.size()) {
      *error = "bad stored block length";
      return false;
    }
    raw.insert(raw.end(), zlib.begin() + static_cast<long>(z) + 5,
               zlib.begin() + static_cast<long>(z + 5 + len));
    z += 5 + len;
  }
  if (z + 4 != zlib.size() || Be32(&zlib[z]) != Adler(raw)) {
    *error = "bad Adler-32 or trailing bytes";
    return false;
  }
  const std::size_t stride = static_cast<std::size_t>(out->width) + 1;
  if (raw.size() != stride * static_cast<std::size_t>(out->height)) {
    *error = "image data has " + std::to_string(raw.size()) + " bytes, not " +
             std::to_string(stride * out->height);
    return false;
  }
  for (int y = 0; y < out->height; ++y) {
    const std::uint8_t* row = &raw[static_cast<std::size_t>(y) * stride];
    if (row[0] != 0) {
      *error = "a row with a filter this reader does not undo";
      return false;
    }
    for (int x = 0; x < out->width; ++x) {
      if (row[1 + x] >= out->palette.size()) {
        *error = "a pixel names no palette entry";
        return false;
      }
      out->indexes.push_back(row[1 + x]);
    }
  }
  return true;
}
