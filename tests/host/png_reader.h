// png_reader.h: reads the PNG pictures the host writes back into pixels,
// through cairo's reader (libpng), refusing anything that is not a whole
// picture.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct DecodedPng {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // 0xRRGGBB, row by row
  std::uint32_t Rgb(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                  static_cast<std::size_t>(x)];
  }
};

inline bool DecodePng(const std::vector<std::uint8_t>& png, DecodedPng* out, std::string* error) {
  struct Source {
    const std::vector<std::uint8_t>* bytes;
    std::size_t at = 0;
  } source{&png};
  auto read = [](void* closure, unsigned char* data, unsigned int length) {
    auto* s = static_cast<Source*>(closure);
    if (s->bytes->size() - s->at < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, s->bytes->data() + s->at, length);
    s->at += length;
    return CAIRO_STATUS_SUCCESS;
  };
  cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(read, &source);
  const cairo_status_t status = cairo_surface_status(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    *error = cairo_status_to_string(status);
    cairo_surface_destroy(surface);
    return false;
  }
  out->width = cairo_image_surface_get_width(surface);
  out->height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  for (int y = 0; y < out->height; ++y) {
    const auto* row =
        reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
    for (int x = 0; x < out->width; ++x) out->pixels.push_back(row[x] & 0xFFFFFFu);
  }
  cairo_surface_destroy(surface);
  return true;
}
