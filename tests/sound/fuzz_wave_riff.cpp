// libFuzzer target for the chunk walk (runtime/wave_riff.cpp), built with clang's
// -fsanitize=fuzzer,address,undefined: the input is the resource, in a heap block of exactly its
// size, so any read past it stops the run.
//
// Beyond memory safety, every answer is checked against a plain reference walk in 64-bit
// arithmetic (no wrap-around possible), for each way the player asks: all three outputs (buffer
// creation) and data with length only (refill after a buffer loss).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "wave_riff.h"

namespace {

struct Answer {
  int found;
  int64_t format, data;  // offsets into the input, -1 when not set
  uint64_t length;
};

uint64_t Length(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint64_t>(p[3]) << 24; }
bool Is(const uint8_t* p, const char* id) { return p[0] == id[0] && p[1] == id[1] && p[2] == id[2] && p[3] == id[3]; }

// The walk as described, bounded by the resource: chunks must lie within both the RIFF length
// and the input.
Answer Reference(const uint8_t* in, uint64_t size, bool wantFormat, bool wantData, bool wantLength) {
  Answer a{0, -1, -1, 0};
  if (size < 12 || !Is(in, "RIFF") || !Is(in + 8, "WAVE")) return a;
  uint64_t end = 8 + Length(in + 4);
  if (end > size) end = size;
  uint64_t position = 12;
  const auto formatFilled = [&] { return a.format >= 0; };
  const auto dataFilled = [&] { return a.data >= 0; };
  const auto lengthFilled = [&] { return a.length != 0; };
  while (position < end) {
    if (position + 8 > end) return a;
    const uint64_t n = Length(in + position + 4), body = position + 8;
    if (body + n > end) return a;
    if (Is(in + position, "fmt ") && wantFormat && !formatFilled()) {
      if (n < 14) return a;
      a.format = static_cast<int64_t>(body);
      if ((!wantData || dataFilled()) && (!wantLength || lengthFilled())) return a.found = 1, a;
    } else if (Is(in + position, "data") && ((wantData && !dataFilled()) || (wantLength && !lengthFilled()))) {
      if (wantData) a.data = static_cast<int64_t>(body);
      if (wantLength) a.length = n;
      if (!wantFormat || formatFilled()) return a.found = 1, a;
    }
    position = body + n + (n & 1);
  }
  return a;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

void Compare(const uint8_t* in, size_t size, bool wantFormat, bool wantData, bool wantLength) {
  const void* format = reinterpret_cast<const void*>(1);  // the walk must clear what it was given
  const void* data = reinterpret_cast<const void*>(1);
  unsigned length = 0xFFFFFFFF;
  const int found = ParseWaveRiff(in, static_cast<unsigned>(size), wantFormat ? &format : nullptr,
                                  wantData ? &data : nullptr, wantLength ? &length : nullptr);
  const Answer want = Reference(in, size, wantFormat, wantData, wantLength);
  Check(found == want.found);
  if (wantFormat) Check(want.format < 0 ? format == nullptr : format == in + want.format);
  if (wantData) Check(want.data < 0 ? data == nullptr : data == in + want.data);
  if (wantLength) Check(length == want.length);
  // Whatever the walk hands out lies inside the input.
  if (found && wantFormat) Check(static_cast<const uint8_t*>(format) + 14 <= in + size);
  if (found && wantData && wantLength) Check(static_cast<const uint8_t*>(data) + length <= in + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* in, size_t size) {
  if (size > 1u << 20) return 0;
  Compare(in, size, true, true, true);
  Compare(in, size, false, true, true);
  Compare(in, size, true, false, false);
  Compare(in, size, false, false, true);
  return 0;
}
