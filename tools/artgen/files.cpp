// Files in and out, and PNG previews through libpng's simplified API.
#include "art.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace artgen {

namespace {
struct FileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

std::vector<uint8_t> readFile(const std::string& path) {
  std::unique_ptr<std::FILE, FileClose> f(std::fopen(path.c_str(), "rb"));
  if (!f) throw ArtError(path + ": " + std::strerror(errno));
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  if (std::ferror(f.get())) throw ArtError(path + ": read error");
  return bytes;
}

void writeFile(const std::string& path, std::span<const uint8_t> bytes) {
  const std::string temp = path + ".part";
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) throw ArtError(path + ": cannot write: " + std::strerror(errno));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temp.c_str());
    throw ArtError(path + ": cannot write: " + reason);
  }
}

std::vector<uint8_t> encodePngRgba(const std::vector<uint8_t>& rgba, int width, int height) {
  if (width < 1 || height < 1 || rgba.size() != static_cast<size_t>(width) * height * 4)
    throw ArtError("preview: image size does not match its pixels");
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr))
    throw ArtError(std::string("preview: ") + image.message);
  std::vector<uint8_t> png(size);
  if (!png_image_write_to_memory(&image, png.data(), &size, 0, rgba.data(), 0, nullptr))
    throw ArtError(std::string("preview: ") + image.message);
  png.resize(size);
  return png;
}

}  // namespace artgen
