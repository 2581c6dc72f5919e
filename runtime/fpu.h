// x87 control-word guard for gauge arithmetic.
//
// The host may leave the FPU in any precision and rounding mode (renderers of this era commonly
// run it at 24-bit precision). Routines that promise IEEE double results wrap their arithmetic in
// a DoublePrecision scope: it selects 53-bit precision with round-to-nearest and gives the host's
// control word back on every return path.
#pragma once

#include "records.h"

class DoublePrecision {
 public:
  DoublePrecision() {
    asm volatile("fnstcw %0" : "=m"(host_));
    nearest_ = static_cast<u16>((host_ & ~0x0F00u) | 0x0200u);  // 53-bit mantissa, round to nearest
    asm volatile("fldcw %0" : : "m"(nearest_) : "memory");
  }
  ~DoublePrecision() { asm volatile("fldcw %0" : : "m"(host_) : "memory"); }
  DoublePrecision(const DoublePrecision&) = delete;
  DoublePrecision& operator=(const DoublePrecision&) = delete;

  // Makes `x` a result of this scope: the computation is ordered before the control word is
  // given back (a volatile asm on the value pins it in place).
  double Keep(double x) const {
    asm volatile("" : "+t"(x));
    return x;
  }

  // x truncated toward zero to a whole number, exact for every magnitude (frndint in chop mode).
  double Truncate(double x) const {
    const u16 chop = static_cast<u16>(nearest_ | 0x0C00u);
    asm volatile("fldcw %1\n\tfrndint\n\tfldcw %2" : "+t"(x) : "m"(chop), "m"(nearest_));
    return x;
  }

  // x truncated toward zero to a 32-bit integer (the value must lie in range).
  s32 TruncateToInt(double x) const {
    const u16 chop = static_cast<u16>(nearest_ | 0x0C00u);
    s32 n;
    asm volatile("fldcw %2\n\tfistpl %0\n\tfldcw %3" : "=m"(n) : "t"(x), "m"(chop), "m"(nearest_) : "st");
    return n;
  }

 private:
  u16 host_;
  u16 nearest_;
};
