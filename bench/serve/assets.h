// The page's files (web/), built into the program by embed.cmake.
#pragma once

#include <cstddef>
#include <string_view>

namespace serve {

struct Asset {
  std::string_view path;  // "/app.js"
  std::string_view type;  // MIME type
  std::string_view bytes;
};

extern const Asset kAssets[];
extern const size_t kAssetCount;

}  // namespace serve
