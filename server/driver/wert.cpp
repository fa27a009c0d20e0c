#include "server/driver/wert.h"

#include <cmath>
#include <stdexcept>

#include "platform/clock.h"

namespace driver {

void InitWert(TWert& w) {
  w = TWert{};
  w.TimeStamp = platform::ToFileTime(platform::DefaultClock().Now());
}

int32_t RoundToInt32(double v) {
  // std::nearbyint rounds halves to even in the default rounding mode.
  double r = std::nearbyint(v);
  if (!(r >= double(INT32_MIN) && r <= double(INT32_MAX))) throw std::range_error("Range check error");
  return int32_t(r);
}

}  // namespace driver
