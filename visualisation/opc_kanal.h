// TOPCKanal ties one channel of a station window to its OPC item: it keeps the last good
// value, turns it into the 0..4095 display scale, lets a bad quality wait one timer tick before
// the channel shows invalid, and writes new values to the server.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "opcclient/kopl_group.h"
#include "opcclient/kopl_item.h"
#include "visualisation/global.h"

namespace lumaro {

// What an item's Data reference points at in the station and main windows: a channel or a
// status label.
class TItemTarget {
 public:
  virtual ~TItemTarget() = default;
};

class TOPCKanal final : public TItemTarget {
 public:
  // Registers itself as the item's Data reference, then Reset. Position: -1..-4 analog input
  // 1..4, 0 and up binary inputs, 16..31 binary outputs (LED rows).
  TOPCKanal(const Context& context, std::string item_id, int32_t log_column, std::string unit, int32_t decimals,
            double offset, double factor, int32_t position, kopl::TKoplGroup& group, kopl::TKoplItem& item);

  void Reset();
  // Takes the item's value as the last good one.
  void SetFromItem(const kopl::TKoplItem& item);
  platform::com::Variant GetValue() const { return value_; }
  // round((Value - offset) / factor), limited to 0..4095; 0 for a value that is no number.
  int32_t ScaledValue() const;
  bool AsBool() const { return ScaledValue() != 0; }
  // One second of bad quality: true when this tick made the channel invalid.
  bool TimerTick();
  // Writes v through the group's asynchronous write. The channel takes v at once, and `shown`
  // runs before the call, which takes as long as the server lets it, so the window can draw
  // it first. When the write cannot be made the channel goes back to its old value, `shown`
  // runs again, and then the error is shown.
  void WriteValue(const platform::com::Variant& v, const std::function<void()>& shown = {});
  void WriteBool(bool b, const std::function<void()>& shown = {}) {
    WriteValue(platform::com::Variant::I4(b ? 1 : 0), shown);
  }

  bool Valid() const { return valid_; }
  bool Pending() const { return pending_; }
  void SetPending(bool pending) { pending_ = pending; }
  const std::string& ItemID() const { return item_id_; }
  kopl::TKoplItem& Item() { return item_; }
  int32_t Position() const { return position_; }
  int32_t LogColumn() const { return log_column_; }
  const std::string& Unit() const { return unit_; }
  int32_t Decimals() const { return decimals_; }

 private:
  const Context& context_;
  platform::com::Variant value_;
  bool valid_ = true;
  bool pending_ = false;
  int32_t ticks_ = 0;
  std::string item_id_;
  kopl::TKoplItem& item_;
  kopl::TKoplGroup& group_;
  int32_t position_;
  double factor_;
  double offset_;
  int32_t decimals_;
  std::string unit_;
  int32_t log_column_;
};

}  // namespace lumaro
