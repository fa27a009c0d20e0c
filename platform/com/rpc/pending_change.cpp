#include "platform/com/rpc/pending_change.h"

#include <algorithm>

#include "platform/com/data_object.h"
#include "platform/com/opc_stream.h"

namespace platform::com::rpc {

PendingChange PendingChange::FromCallback(OPCHANDLE group, std::vector<OPCHANDLE> handles, std::vector<Variant> values,
                                          std::vector<WORD> qualities, std::vector<FILETIME> stamps,
                                          std::vector<HRESULT> errors) {
  PendingChange c;
  c.group_ = group;
  c.handles_ = std::move(handles);
  c.values_ = std::move(values);
  c.qualities_ = std::move(qualities);
  c.stamps_ = std::move(stamps);
  c.errors_ = std::move(errors);
  return c;
}

std::optional<PendingChange> PendingChange::FromStream(const std::string& format, const std::vector<uint8_t>& block) {
  const bool with_time = format == kOpcStmFormatDataTime;
  if (!with_time && format != kOpcStmFormatData) return std::nullopt;
  OpcStreamHeader header;
  std::vector<OpcStreamItem> items;
  if (!ParseOpcDataStream(block, with_time, &header, &items)) return std::nullopt;
  if (header.dwTransactionID != 0 || FAILED(header.hrStatus)) return std::nullopt;
  PendingChange c;
  c.stream_ = true;
  c.format_ = format;
  c.group_ = header.hClientGroup;
  for (OpcStreamItem& it : items) {
    c.handles_.push_back(it.hClient);
    c.values_.push_back(std::move(it.value));
    c.qualities_.push_back(it.wQuality);
    c.stamps_.push_back(it.ftTimeStamp);
    c.errors_.push_back(S_OK);
  }
  return c;
}

bool PendingChange::Takes(const PendingChange& later) const {
  return stream_ == later.stream_ && format_ == later.format_ && group_ == later.group_;
}

void PendingChange::Merge(const PendingChange& later) {
  if (index_.empty()) {
    // A handle twice in one change: its last place is the one a client takes last.
    for (size_t i = 0; i < handles_.size(); ++i) index_[handles_[i]] = i;
  }
  for (size_t i = 0; i < later.handles_.size(); ++i) {
    Put(later.handles_[i], later.values_[i], later.qualities_[i], later.stamps_[i], later.errors_[i]);
  }
}

void PendingChange::Put(OPCHANDLE handle, const Variant& value, WORD quality, FILETIME stamp, HRESULT error) {
  auto [it, added] = index_.try_emplace(handle, handles_.size());
  if (added) {
    handles_.push_back(handle);
    values_.push_back(value);
    qualities_.push_back(quality);
    stamps_.push_back(stamp);
    errors_.push_back(error);
    return;
  }
  const size_t i = it->second;
  values_[i] = value;
  qualities_[i] = quality;
  stamps_[i] = stamp;
  errors_[i] = error;
}

HRESULT PendingChange::MasterQuality() const {
  const bool all_good = std::all_of(qualities_.begin(), qualities_.end(),
                                    [](WORD q) { return (q & OPC_QUALITY_GOOD) == OPC_QUALITY_GOOD; });
  return all_good ? S_OK : S_FALSE;
}

HRESULT PendingChange::MasterError() const {
  return std::all_of(errors_.begin(), errors_.end(), [](HRESULT e) { return e == S_OK; }) ? S_OK : S_FALSE;
}

std::vector<uint8_t> PendingChange::StreamBlock() const {
  std::vector<OpcStreamItem> items(handles_.size());
  for (size_t i = 0; i < handles_.size(); ++i) {
    items[i].hClient = handles_[i];
    items[i].wQuality = qualities_[i];
    items[i].ftTimeStamp = stamps_[i];
    items[i].value = values_[i];
  }
  return BuildOpcDataStream(format_ == kOpcStmFormatDataTime, group_, 0, S_OK, items);
}

}  // namespace platform::com::rpc
