#include "serial/com_types.h"

namespace serial {

namespace {
// Mask bit of each event, by ordinal.
constexpr uint32_t kMaskBits[kComEventCount] = {kEvRxChar, kEvTxEmpty, kEvRxFlag, kEvRing, kEvBreak,
                                                kEvCts,    kEvDsr,     kEvErr,    kEvRlsd, kEvRx80Full};
}  // namespace

uint32_t EventMaskBit(TComEvent event) { return unsigned(event) < kComEventCount ? kMaskBits[event] : 0; }

uint32_t EventsToMask(TComEvents events) {
  uint32_t mask = 0;
  for (int e = 0; e < kComEventCount; ++e)
    if (events.Contains(TComEvent(e))) mask |= kMaskBits[e];
  return mask;
}

TComEvents MaskToEvents(uint32_t mask) {
  TComEvents events;
  for (int e = 0; e < kComEventCount; ++e)
    if (mask & kMaskBits[e]) events.Include(TComEvent(e));
  return events;
}

}  // namespace serial
