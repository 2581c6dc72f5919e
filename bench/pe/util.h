// Small helpers shared by the PE reader's sources: bounded little-endian reads, hex formatting,
// UTF-16 conversion. Internal to gb_pe.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "pe/pe.h"

namespace pe::detail {

inline std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

inline bool fits(std::span<const uint8_t> d, uint64_t off, uint64_t n) {
  return off <= d.size() && n <= d.size() - off;
}

// Callers check fits() first; these never read outside d.
inline uint16_t le16(std::span<const uint8_t> d, size_t off) {
  return static_cast<uint16_t>(d[off] | d[off + 1] << 8);
}
inline uint32_t le32(std::span<const uint8_t> d, size_t off) {
  return static_cast<uint32_t>(d[off]) | static_cast<uint32_t>(d[off + 1]) << 8 |
         static_cast<uint32_t>(d[off + 2]) << 16 | static_cast<uint32_t>(d[off + 3]) << 24;
}

// Bounded reads that throw "truncated: WHAT ..." when the bytes are missing.
inline void need(std::span<const uint8_t> d, uint64_t off, uint64_t n, const std::string& what) {
  if (!fits(d, off, n))
    throw Error("truncated: " + what + " ends at " + hex(off + n) + " beyond the end of the data " +
                hex(d.size()));
}
inline uint16_t read16(std::span<const uint8_t> d, uint64_t off, const std::string& what) {
  need(d, off, 2, what);
  return le16(d, static_cast<size_t>(off));
}
inline uint32_t read32(std::span<const uint8_t> d, uint64_t off, const std::string& what) {
  need(d, off, 4, what);
  return le32(d, static_cast<size_t>(off));
}

// Appends code point cp as UTF-8.
inline void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// count UTF-16LE units at d[off..] to UTF-8; unpaired surrogates become U+FFFD.
// The caller has checked that 2*count bytes are there.
inline std::string utf16ToUtf8(std::span<const uint8_t> d, size_t off, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    uint32_t u = le16(d, off + 2 * i);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < count) {
      uint32_t lo = le16(d, off + 2 * (i + 1));
      if (lo >= 0xDC00 && lo < 0xE000) {
        appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    appendUtf8(out, (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
  }
  return out;
}

// The file-backed bytes from rva to the end of its section (or of the headers); empty if rva is not
// backed by the file.
std::span<const uint8_t> backedFrom(const Image& img, uint32_t rva);

// Zero-terminated ASCII string at rva, at most maxLen characters; throws Error naming WHAT if it is
// not backed by the file or not terminated in time.
std::string cstringAt(const Image& img, uint32_t rva, size_t maxLen, const std::string& what);

// Runs f; an Error thrown inside is rethrown with "CONTEXT: " in front.
template <typename F>
auto withContext(const std::string& context, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const Error& e) {
    throw Error(context + ": " + e.what());
  }
}

// Reads the resource tree and the version resource (resources.cpp).
void parseResources(Image& img);

}  // namespace pe::detail
