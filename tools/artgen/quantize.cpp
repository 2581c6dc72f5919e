// 256-colour palettes with the see-through key kept intact.
//
// libimagequant alone does not keep the key: a fixed black entry attracts near-black pixels, with
// or without dithering. So see-through pixels go in as fully transparent (libimagequant then
// spends at most one entry on them), the opaque entries are quantized among themselves, and a
// post-pass builds the final palette: index 0 is the key, the opaque entries follow (lifted off
// black), every see-through pixel is put on 0 and every other pixel on an opaque entry.
#include "art.h"

#include <libimagequant.h>
#include <omp.h>

#include <limits>
#include <memory>

namespace artgen {

namespace {

struct AttrDestroy {
  void operator()(liq_attr* a) const { liq_attr_destroy(a); }
};
struct ImageDestroy {
  void operator()(liq_image* i) const { liq_image_destroy(i); }
};
struct ResultDestroy {
  void operator()(liq_result* r) const { liq_result_destroy(r); }
};

int distance2(Rgb a, Rgb b) {
  const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
  return dr * dr + dg * dg + db * db;
}

}  // namespace

IndexedImage quantize(const RgbImage& image) {
  const size_t count = static_cast<size_t>(image.width) * image.height;
  if (image.width < 1 || image.height < 1 || image.pixels.size() != count)
    throw ArtError("quantize: image size does not match its pixels");

  // libimagequant's search splits work over OpenMP threads and the split changes the palette;
  // one thread gives the same bytes on every run and every machine.
  omp_set_num_threads(1);

  std::vector<uint8_t> rgba(count * 4);
  for (size_t i = 0; i < count; ++i) {
    const Rgb c = image.pixels[i];
    const bool opaque = c != kSeeThrough;
    rgba[4 * i + 0] = c.r;
    rgba[4 * i + 1] = c.g;
    rgba[4 * i + 2] = c.b;
    rgba[4 * i + 3] = opaque ? 255 : 0;
  }

  std::unique_ptr<liq_attr, AttrDestroy> attr(liq_attr_create());
  if (!attr) throw ArtError("quantize: libimagequant failed to start");
  // 255 leaves room for the key entry even when the picture has no see-through pixel.
  liq_set_max_colors(attr.get(), 255);
  liq_set_speed(attr.get(), 3);
  std::unique_ptr<liq_image, ImageDestroy> liqImage(
      liq_image_create_rgba(attr.get(), rgba.data(), image.width, image.height, 0));
  if (!liqImage) throw ArtError("quantize: libimagequant rejected the image");
  liq_result* rawResult = nullptr;
  if (liq_image_quantize(liqImage.get(), attr.get(), &rawResult) != LIQ_OK || !rawResult)
    throw ArtError("quantize: libimagequant could not build a palette");
  std::unique_ptr<liq_result, ResultDestroy> result(rawResult);
  // Flat art with anti-aliased edges: nearest colours read cleaner than dither noise.
  liq_set_dithering_level(result.get(), 0.0f);

  std::vector<uint8_t> remapped(count);
  if (liq_write_remapped_image(result.get(), liqImage.get(), remapped.data(), remapped.size()) !=
      LIQ_OK)
    throw ArtError("quantize: libimagequant could not remap the image");
  const liq_palette* liqPalette = liq_get_palette(result.get());

  std::vector<QuantizedColour> palette;
  for (unsigned i = 0; i < liqPalette->count; ++i) {
    const liq_color& c = liqPalette->entries[i];
    palette.push_back({c.r, c.g, c.b, c.a});
  }
  return keyPalette(image, palette, remapped);
}

IndexedImage keyPalette(const RgbImage& image, std::span<const QuantizedColour> palette,
                        std::span<const uint8_t> remapped) {
  const size_t count = image.pixels.size();
  if (remapped.size() != count || palette.size() > 255)
    throw ArtError("quantize: remapped picture or palette has the wrong size");
  // Final palette: key first, then the quantizer's opaque entries in its order.
  IndexedImage out{image.width, image.height, {}, std::vector<uint8_t>(count, 0)};
  out.palette.fill(kNearBlack);  // unused entries: anything but black
  out.palette[0] = kSeeThrough;
  int used = 1;
  std::array<int, 256> finalIndex;
  finalIndex.fill(-1);
  for (size_t i = 0; i < palette.size(); ++i) {
    const QuantizedColour& c = palette[i];
    if (c.a < 128) continue;  // the transparent entry stands for the key
    finalIndex[i] = used;
    out.palette[used++] = liftFromKey({c.r, c.g, c.b});
  }

  for (size_t i = 0; i < count; ++i) {
    const Rgb src = image.pixels[i];
    if (src == kSeeThrough) continue;  // index 0
    int index = remapped[i] < palette.size() ? finalIndex[remapped[i]] : -1;
    if (index < 0) {
      // An opaque pixel remapped onto the transparent entry: take the nearest opaque entry,
      // or give it an entry of its own if there is none yet.
      int best = std::numeric_limits<int>::max();
      for (int e = 1; e < used; ++e) {
        const int d = distance2(out.palette[e], src);
        if (d < best) best = d, index = e;
      }
      if (index < 0) {
        index = used;
        out.palette[used++] = liftFromKey(src);  // used < 256: at most 255 entries came in
      }
    }
    out.indices[i] = static_cast<uint8_t>(index);
  }
  return out;
}

}  // namespace artgen
