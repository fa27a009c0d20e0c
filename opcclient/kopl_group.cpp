#include "opcclient/kopl_group.h"

#include <algorithm>

#include "opcclient/kopl_server.h"
#include "opcclient/kopl_sinks.h"

namespace kopl {

namespace com = platform::com;

namespace {

uint32_t async_transaction_counter = 0;

bool Blank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

// The BOOL the library sends for true: all bits set.
com::BOOL OpcBool(bool b) { return b ? -1 : 0; }

}  // namespace

uint32_t AsyncTransactionCounter() { return async_transaction_counter; }

// ---- TKoplGroups ----

TKoplGroups::TKoplGroups(TKoplServer& owner) : owner_(owner) {}

TKoplGroups::~TKoplGroups() {
  while (!groups_.empty()) groups_.pop_back();
}

TKoplGroup& TKoplGroups::AddItem() {
  groups_.push_back(std::make_unique<TKoplGroup>(*this, next_id_++));
  TKoplGroup& group = *groups_.back();
  if (owner_.Designing() && owner_.ServerRef()) group.ConnectGroup();
  return group;
}

TKoplGroup& TKoplGroups::Add(const std::string& name) {
  if (IndexOf(name) >= 0 || Blank(name)) throw EOPCException("group " + name + " already exists");
  TKoplGroup& group = AddItem();
  group.SetName(name);
  if (owner_.ServerRef() && !owner_.Designing()) group.ConnectGroup();
  return group;
}

int32_t TKoplGroups::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < groups_.size(); ++i) {
    if (groups_[i]->Name() == name) return int32_t(i);
  }
  return -1;
}

TKoplGroup* TKoplGroups::Find(const std::string& name) {
  int32_t i = IndexOf(name);
  return i < 0 ? nullptr : groups_[size_t(i)].get();
}

TKoplGroup* TKoplGroups::FindItemID(int32_t id) {
  for (auto& g : groups_) {
    if (g->ID() == id) return g.get();
  }
  return nullptr;
}

void TKoplGroups::Remove(const std::string& name) {
  int32_t i = IndexOf(name);
  if (i < 0) throw EOPCException("group not found");
  Delete(i);
}

void TKoplGroups::Delete(int32_t index) {
  auto it = groups_.begin() + index;
  // Disconnect while the group is still in the collection, so its failures can reach the caller.
  (*it)->DisconnectGroup();
  groups_.erase(it);
}

void TKoplGroups::Clear() {
  DisconnectAll();
  while (!groups_.empty()) groups_.pop_back();
}

void TKoplGroups::DisconnectAll() {
  for (auto& g : groups_) g->DisconnectGroup();
}

void TKoplGroups::ConnectAll() {
  for (size_t i = 0; i < groups_.size(); ++i) {
    if (!groups_[i]->Connected()) groups_[i]->ConnectGroup();
  }
}

// ---- TKoplGroup ----

TKoplGroup::TKoplGroup(TKoplGroups& collection, int32_t id)
    : collection_(collection), server_(collection.Owner()), id_(id) {
  const TdDefaultGroup& d = server_.OPCGroupDefault();
  SetIsActive(d.IsActive);
  SetUpdateRate(d.UpdateRate);
  SetDeadBand(d.DeadBand);
  SetLocaleId(d.LocaleId);
  SetTimeBias(d.TimeBias);
  name_ = "TKoplGroup" + std::to_string(collection.Count());
  items_ = std::make_unique<TKoplItems>(*this);
}

TKoplGroup::~TKoplGroup() {
  try {
    if (Connected()) DisconnectGroup();
  } catch (const std::exception& e) {
    HandleException(e);
  }
  items_.reset();
}

int32_t TKoplGroup::Index() const {
  for (int32_t i = 0; i < collection_.Count(); ++i) {
    if (&collection_.GetItem(i) == this) return i;
  }
  return -1;
}

std::string TKoplGroup::GetDisplayName() const { return Blank(name_) ? "TKoplGroup" : name_; }

void TKoplGroup::SetName(const std::string& value) {
  if (value == name_) return;
  if (state_) OpcCheck(state_->SetName(ToOpcText(value)));
  name_ = value;
}

template <class T>
void TKoplGroup::SetStateField(T& field, T value, Field which) {
  if (field == value) return;
  int32_t rate = which == Field::UpdateRate ? int32_t(value) : update_rate_;
  ApplyState(rate, which == Field::IsActive ? bool(value) : is_active_, uint32_t(id_),
             which == Field::LocaleId ? int32_t(value) : locale_id_,
             which == Field::DeadBand ? float(value) : dead_band_,
             which == Field::TimeBias ? int32_t(value) : time_bias_);
  if (which == Field::UpdateRate) {
    update_rate_ = rate;  // the server's revised rate
    return;
  }
  update_rate_ = rate;
  field = value;
}

void TKoplGroup::SetIsActive(bool value) { SetStateField(is_active_, value, Field::IsActive); }
void TKoplGroup::SetUpdateRate(int32_t value) { SetStateField(update_rate_, value, Field::UpdateRate); }
void TKoplGroup::SetDeadBand(float value) { SetStateField(dead_band_, value, Field::DeadBand); }
void TKoplGroup::SetLocaleId(int32_t value) { SetStateField(locale_id_, value, Field::LocaleId); }
void TKoplGroup::SetTimeBias(int32_t value) { SetStateField(time_bias_, value, Field::TimeBias); }

void TKoplGroup::ApplyState(int32_t& rate, bool active, uint32_t client_handle, int32_t locale_id, float dead_band,
                            int32_t time_bias) {
  if (!state_) return;
  com::DWORD requested = com::DWORD(rate), revised = requested;
  com::BOOL b = OpcBool(active);
  com::LONG bias = time_bias;
  com::LCID lcid = com::LCID(locale_id);
  com::OPCHANDLE client = client_handle;
  OpcCheck(state_->SetState(&requested, &revised, &b, &bias, &dead_band, &lcid, &client));
  rate = int32_t(revised);
}

tGroupStateRec TKoplGroup::GetState() {
  tGroupStateRec r;
  if (!state_) {
    // Nothing to ask without the server's group; reported like any missing connection.
    server_.DoError("not connected to server");
    return r;
  }
  com::DWORD rate = 0;
  com::BOOL active = 0;
  std::string name;
  com::LONG bias = 0;
  float dead_band = 0;
  com::LCID lcid = 0;
  com::OPCHANDLE client = 0, server = 0;
  OpcCheck(state_->GetState(&rate, &active, &name, &bias, &dead_band, &lcid, &client, &server));
  r.UpdateRate = int32_t(rate);
  r.Active = active != 0;
  r.Name = FromOpcText(name);
  r.TimeBias = bias;
  r.DeadBand = dead_band;
  r.LocaleId = int32_t(lcid);
  r.ClientGroupHandle = client;
  r.ServerGroupHandle = server;
  return r;
}

TKoplItemList TKoplGroup::ListOrAllItems(TKoplItemList* list) { return list ? *list : TKoplItemList(*items_); }

struct TKoplGroup::WriteArrays {
  std::vector<com::OPCHANDLE> handles;
  std::vector<Variant> values;
  explicit WriteArrays(const TKoplItemList& list) {
    for (TKoplItem* item : list) {
      handles.push_back(*item->ServerHandle());
      values.push_back(item->WriteValue);
    }
  }
};

namespace {

// Per-item outcome of a write: a failed item keeps its code and loses its quality.
bool TakeWriteResults(const TKoplItemList& list, const std::vector<HRESULT>& errors) {
  bool ok = true;
  for (int32_t i = 0; i < list.Count(); ++i) {
    HRESULT code = size_t(i) < errors.size() ? errors[size_t(i)] : com::E_FAIL;
    TKoplItem& item = list[i];
    if (com::SUCCEEDED(code)) {
      item.ItemErrorCode = 0;
    } else {
      item.ItemErrorCode = code;
      item.SetQuality(0);
      ok = false;
    }
  }
  return ok;
}

}  // namespace

bool TKoplGroup::SyncWriteItems(TKoplItemList* list) {
  if (!sync_io_) return false;
  TKoplItemList items = ListOrAllItems(list);
  items.CheckAdded();
  if (items.Count() == 0) return false;
  WriteArrays a(items);
  std::vector<HRESULT> errors;
  OpcCheck(sync_io_->Write(com::DWORD(items.Count()), a.handles.data(), a.values.data(), &errors));
  return TakeWriteResults(items, errors);
}

bool TKoplGroup::AsyncWriteItems(TKoplItemList* list) {
  // The DA 2.0 write reports to the data callback; the DA 1.0 write names the advise sink's
  // connection for its completion. Without either it has nowhere to go.
  const bool da20 = async_io2_ && data_callback_;
  const bool da10 = !da20 && async_io_ && advise_sink_ && advise_sink_->Advised();
  if (!da20 && !da10) return false;
  TKoplItemList items = ListOrAllItems(list);
  items.CheckAdded();
  if (items.Count() == 0) return false;
  uint32_t transaction = ++async_transaction_counter;
  WriteArrays a(items);
  pending_transaction_ = 0;
  std::vector<HRESULT> errors;
  com::DWORD id = 0;
  HRESULT hr =
      da20 ? async_io2_->Write(com::DWORD(items.Count()), a.handles.data(), a.values.data(), transaction, &id, &errors)
           : async_io_->Write(advise_sink_->WriteConnection(), com::DWORD(items.Count()), a.handles.data(),
                              a.values.data(), &id, &errors);
  pending_transaction_ = id;
  OpcCheck(hr);
  return TakeWriteResults(items, errors);
}

void TKoplGroup::ClearTransaction(uint32_t transaction_id) {
  if (transaction_id == pending_transaction_) pending_transaction_ = 0;
}

void TKoplGroup::ConnectGroup() {
  std::shared_ptr<com::IOPCServer> server = server_.ServerRef();
  if (!server) return;
  server_handle_.reset();
  pending_transaction_ = 0;
  item_mgt_.reset();

  com::OPCHANDLE handle = 0;
  com::DWORD revised = 0;
  com::LONG bias = time_bias_;
  float dead_band = dead_band_;
  std::shared_ptr<com::IUnknown> unk;
  OpcCheck(server->AddGroup(ToOpcText(name_), OpcBool(is_active_), com::DWORD(update_rate_), com::OPCHANDLE(id_),
                            &bias, &dead_band, com::LCID(locale_id_), &handle, &revised, com::IID_IOPCItemMgt, &unk));
  item_mgt_ = unk ? com::Query<com::IOPCItemMgt>(unk) : nullptr;
  if (!item_mgt_) {
    server->RemoveGroup(handle, com::FALSE);
    throw EIntfCastError();
  }
  server_handle_ = handle;
  state_ = com::Query<com::IOPCGroupStateMgt>(item_mgt_);
  sync_io_ = com::Query<com::IOPCSyncIO>(item_mgt_);
  async_io2_ = com::Query<com::IOPCAsyncIO2>(item_mgt_);

  items_->AddAllToServer();
  update_rate_ = int32_t(revised);

  if (server_.SupportsConnectionPoints()) {
    data_callback_ = TKoplDataCallback::Create(*this);
    if (data_callback_->AdviseResult() != com::S_OK) {
      data_callback_->Detach();
      data_callback_.reset();
    }
  }
  if (!data_callback_) {
    advise_sink_ = TKoplAdviseSink::Create(*this);
    HRESULT hr = advise_sink_->AdviseResult();
    if (hr != com::S_OK) {
      advise_sink_->Detach();
      advise_sink_.reset();
      throw EOleSysError(com::FAILED(hr) ? hr : com::E_FAIL);
    }
  }
  // Without the data callback a DA 2.0 write's completion has nowhere to go: a group on the
  // data-object road writes the DA 1.0 way, even where the server offers both.
  if (!data_callback_ || !async_io2_) async_io_ = com::Query<com::IOPCAsyncIO>(item_mgt_);
}

void TKoplGroup::DisconnectGroup() {
  if (item_mgt_) {
    sync_io_.reset();
    async_io_.reset();
    async_io2_.reset();
    state_.reset();
    if (data_callback_) {
      data_callback_->Detach();
      data_callback_.reset();
    }
    if (advise_sink_) {
      advise_sink_->Unadvise();
      advise_sink_->Detach();
      advise_sink_.reset();
    }
    items_->RemoveAllFromServer();
    item_mgt_.reset();
    if (server_handle_) {
      if (std::shared_ptr<com::IOPCServer> server = server_.ServerRef()) server->RemoveGroup(*server_handle_, com::FALSE);
    }
  }
  server_handle_.reset();
}

}  // namespace kopl
