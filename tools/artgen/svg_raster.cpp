// SVG to keyed RGB through librsvg and cairo.
#include "art.h"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <memory>

namespace artgen {

Rgb liftFromKey(Rgb c) {
  if (c.r < kNearBlack.r && c.g < kNearBlack.g && c.b < kNearBlack.b) return kNearBlack;
  return c;
}

Rgb keyedColour(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  if (a < 128) return kSeeThrough;  // below half covered: see-through
  auto straight = [a](uint8_t c) {
    return static_cast<uint8_t>(std::min(255, (c * 255 + a / 2) / a));
  };
  return liftFromKey({straight(r), straight(g), straight(b)});
}

namespace {

struct GObjectUnref {
  void operator()(RsvgHandle* h) const { g_object_unref(h); }
};
struct SurfaceDestroy {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoDestroy {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using Handle = std::unique_ptr<RsvgHandle, GObjectUnref>;

std::string takeMessage(GError* error, const char* fallback) {
  std::string message = error && error->message ? error->message : fallback;
  if (error) g_error_free(error);
  // One line: librsvg's parser messages may carry a trailing newline.
  std::replace(message.begin(), message.end(), '\n', ' ');
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message;
}

void checkSize(int width, int height) {
  if (width < 1 || height < 1 || width > 16384 || height > 16384)
    throw ArtError("bitmap size " + std::to_string(width) + "x" + std::to_string(height) +
                   " is outside 1..16384");
}

RgbImage render(RsvgHandle* handle, int width, int height, const std::string& source) {
  // The document's own coordinate box: its viewBox, else its width and height in pixels.
  double boxW = 0, boxH = 0;
  gboolean hasW = FALSE, hasH = FALSE, hasViewBox = FALSE;
  RsvgLength lw{}, lh{};
  RsvgRectangle viewBox{};
  rsvg_handle_get_intrinsic_dimensions(handle, &hasW, &lw, &hasH, &lh, &hasViewBox, &viewBox);
  if (hasViewBox && viewBox.width > 0 && viewBox.height > 0) {
    boxW = viewBox.width;
    boxH = viewBox.height;
  } else if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &boxW, &boxH) || boxW <= 0 ||
             boxH <= 0) {
    boxW = width;
    boxH = height;
  }

  std::unique_ptr<cairo_surface_t, SurfaceDestroy> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
    throw ArtError(source + ": cannot create a " + std::to_string(width) + "x" +
                   std::to_string(height) + " surface");
  {
    std::unique_ptr<cairo_t, CairoDestroy> cr(cairo_create(surface.get()));
    // A viewport of the box's own shape keeps librsvg from letterboxing; the scale then
    // stretches that box over the whole surface.
    cairo_scale(cr.get(), width / boxW, height / boxH);
    RsvgRectangle viewport{0, 0, boxW, boxH};
    GError* error = nullptr;
    if (!rsvg_handle_render_document(handle, cr.get(), &viewport, &error))
      throw ArtError(source + ": " + takeMessage(error, "rendering failed"));
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS)
      throw ArtError(source + ": " + cairo_status_to_string(cairo_status(cr.get())));
  }
  cairo_surface_flush(surface.get());

  RgbImage out{width, height, std::vector<Rgb>(static_cast<size_t>(width) * height)};
  const unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      const uint32_t p = row[x];  // premultiplied ARGB in native byte order
      out.pixels[static_cast<size_t>(y) * width + x] =
          keyedColour(static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8),
                      static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 24));
    }
  }
  return out;
}

}  // namespace

RgbImage renderSvg(std::span<const uint8_t> svg, int width, int height,
                   const std::string& source) {
  checkSize(width, height);
  GError* error = nullptr;
  Handle handle(rsvg_handle_new_from_data(svg.data(), svg.size(), &error));
  if (!handle) throw ArtError(source + ": not a readable SVG: " + takeMessage(error, "no detail"));
  return render(handle.get(), width, height, source);
}

RgbImage renderSvgFile(const std::string& path, int width, int height) {
  checkSize(width, height);
  readFile(path);  // a missing or unreadable file gets its own plain message
  GError* error = nullptr;
  // Loading from the file (not its bytes) lets the SVG refer to files beside it.
  Handle handle(rsvg_handle_new_from_file(path.c_str(), &error));
  if (!handle) throw ArtError(path + ": not a readable SVG: " + takeMessage(error, "no detail"));
  return render(handle.get(), width, height, path);
}

}  // namespace artgen
