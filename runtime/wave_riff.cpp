// The chunk walk over a WAVE resource's RIFF image (see wave_riff.h).
#include "wave_riff.h"

namespace {

using Byte = unsigned char;
using Offset = unsigned int;

constexpr Offset kChunkHeader = 8;       // id and body length
constexpr Offset kFirstChunk = 12;       // after "RIFF", L and "WAVE"
constexpr Offset kMinFormatLength = 14;  // a WAVEFORMATEX up to nBlockAlign

// Byte by byte: the image has no alignment, and this reads the same on every host.
Offset ReadLength(const Byte* at) {
  return static_cast<Offset>(at[0]) | static_cast<Offset>(at[1]) << 8 | static_cast<Offset>(at[2]) << 16 |
         static_cast<Offset>(at[3]) << 24;
}

bool IsId(const Byte* at, const char (&id)[5]) {
  return at[0] == static_cast<Byte>(id[0]) && at[1] == static_cast<Byte>(id[1]) &&
         at[2] == static_cast<Byte>(id[2]) && at[3] == static_cast<Byte>(id[3]);
}

}  // namespace

int ParseWaveRiff(const void* image, unsigned int imageSize, const void** format, const void** data,
                  unsigned int* dataLength) {
  if (format != nullptr) *format = nullptr;
  if (data != nullptr) *data = nullptr;
  if (dataLength != nullptr) *dataLength = 0;

  const Byte* bytes = static_cast<const Byte*>(image);
  if (bytes == nullptr || imageSize < kFirstChunk) return 0;
  if (!IsId(bytes, "RIFF") || !IsId(bytes + 8, "WAVE")) return 0;

  // The chunks end at 8 + L, or at the end of the resource if that comes first.
  const Offset riffLength = ReadLength(bytes + 4);
  const Offset end = riffLength < imageSize - 8 ? 8 + riffLength : imageSize;

  Offset position = kFirstChunk;
  if (position >= end) return 0;
  for (;;) {
    if (end - position < kChunkHeader) return 0;  // no whole chunk header before the end
    const Byte* chunk = bytes + position;
    const Offset length = ReadLength(chunk + 4);
    const Offset body = position + kChunkHeader;
    if (length > end - body) return 0;  // the body runs past the end

    if (IsId(chunk, "fmt ") && format != nullptr && *format == nullptr) {
      // The first "fmt " chunk decides: a short one fails the walk even if a valid one follows.
      if (length < kMinFormatLength) return 0;
      *format = bytes + body;
      if ((data == nullptr || *data != nullptr) && (dataLength == nullptr || *dataLength != 0)) return 1;
    } else if (IsId(chunk, "data") && ((data != nullptr && *data == nullptr) ||
                                       (dataLength != nullptr && *dataLength == 0))) {
      // An empty "data" chunk leaves the length unfound, so a later "data" chunk replaces it.
      if (data != nullptr) *data = bytes + body;
      if (dataLength != nullptr) *dataLength = length;
      if (format == nullptr || *format != nullptr) return 1;
    }

    // The body and its pad byte; length <= end - body < 2^32 - 8, so this cannot wrap.
    const Offset step = length + (length & 1);
    if (step >= end - body) return 0;  // the next chunk would start at or past the end
    position = body + step;
  }
}
