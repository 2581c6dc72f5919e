// EngineNeedleValue: the update callback of both needles.
//
// Scales the host variable by 25/4096 then by 24 (in that order), gives 0 for negative values
// and NaN, passes values up to the wrap limit L through, and folds larger values back into
// 0 .. L (x modulo L, through the reciprocal R), all in IEEE double precision whatever the host
// left in the x87 control word.
#include "engine_needles.h"
#include "fpu.h"

double GAUGE_CALL EngineNeedleValue(HostVariable* variable) {
  DoublePrecision fpu;
  const double limit = needleWrap.limit;
  double x = variable->value * 0.006103515625;
  x = x * 24.0;
  double result;
  if (!(x >= 0.0)) {  // negative or not a number
    result = 0.0;
  } else if (x <= limit) {
    result = x;
  } else {
    const double y = x * needleWrap.reciprocal;
    // The whole part is taken in floating point, so any magnitude folds exactly; an infinite
    // value has no remainder and falls back to 0 like a value that is not a number.
    const double fraction = y - fpu.Truncate(y);
    result = fraction == fraction ? fraction * limit : 0.0;
  }
  return fpu.Keep(result);
}
