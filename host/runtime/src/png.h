// png.h: a small PNG writer for the host's panel pictures.
//
// Private to libfbsdk. Indexed colour, 8 bits per pixel, one palette of at
// most 256 colours; the image data goes into zlib stored (uncompressed)
// deflate blocks, so no compressor is needed.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace fbhost_internal {

using Rgb = std::array<std::uint8_t, 3>;

// pixels: width * height palette indexes, row by row. Every index must name
// a palette entry.
std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<Rgb>& palette,
                                    const std::vector<std::uint8_t>& pixels);

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);
std::uint32_t Adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler = 1);

}  // namespace fbhost_internal
