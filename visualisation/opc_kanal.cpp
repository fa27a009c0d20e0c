#include "visualisation/opc_kanal.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace lumaro {

namespace com = platform::com;

TOPCKanal::TOPCKanal(const Context& context, std::string item_id, int32_t log_column, std::string unit,
                     int32_t decimals, double offset, double factor, int32_t position, kopl::TKoplGroup& group,
                     kopl::TKoplItem& item)
    : context_(context),
      item_id_(std::move(item_id)),
      item_(item),
      group_(group),
      position_(position),
      factor_(factor == 0 ? 1.0 : factor),
      offset_(offset),
      decimals_(decimals),
      unit_(std::move(unit)),
      log_column_(log_column) {
  item_.Data = static_cast<TItemTarget*>(this);
  Reset();
}

void TOPCKanal::Reset() {
  valid_ = true;
  pending_ = false;
  ticks_ = 0;
  value_ = com::Variant::I4(0);
}

void TOPCKanal::SetFromItem(const kopl::TKoplItem& item) {
  value_ = item.Value();
  ticks_ = 0;
  valid_ = true;
}

int32_t TOPCKanal::ScaledValue() const {
  double v = 0;
  if (!ValueAsDouble(value_, v)) return 0;
  double scaled = (v - offset_) / factor_;
  if (std::isnan(scaled)) return 0;
  scaled = std::clamp(scaled, 0.0, 4095.0);
  return int32_t(std::lround(scaled));
}

bool TOPCKanal::TimerTick() {
  if (ticks_ <= 1) {
    ++ticks_;
    if (ticks_ == 1) {
      valid_ = false;
      return true;
    }
  }
  return false;
}

void TOPCKanal::WriteValue(const com::Variant& v, const std::function<void()>& shown) {
  const com::Variant old = value_;
  value_ = v;
  ticks_ = 0;
  if (shown) shown();
  bool written = false;
  try {
    item_.WriteValue = v;
    kopl::TKoplItemList list = kopl::TKoplItemList::CreateForItem(item_);
    written = group_.AsyncWriteItems(&list);
  } catch (const std::exception&) {
    written = false;
  }
  if (!written) {
    // A write the server never got must not show as switched.
    value_ = old;
    if (shown) shown();
    ShowError(context_, "Konnte auf \"" + item_id_ + "\" nicht schreiben!");
  }
}

}  // namespace lumaro
