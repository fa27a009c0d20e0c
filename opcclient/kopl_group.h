// Groups: TKoplGroups is the collection of a server component's groups, TKoplGroup one group.
// A group connects itself when its server connects (or when it is added to a connected one),
// keeps the server-side group and its interfaces while connected, and performs the writes of
// item values. Property changes while disconnected are only stored and used at the next
// connect. The group's client handle is its collection ID.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "opcclient/kopl_item.h"
#include "opcclient/kopl_types.h"
#include "platform/com/opc_da.h"

namespace kopl {

class TKoplDataCallback;
class TKoplAdviseSink;

class TKoplGroups {
 public:
  explicit TKoplGroups(TKoplServer& owner);
  ~TKoplGroups();
  TKoplGroups(const TKoplGroups&) = delete;
  TKoplGroups& operator=(const TKoplGroups&) = delete;

  TKoplServer& Owner() { return owner_; }
  int32_t Count() const { return int32_t(groups_.size()); }
  TKoplGroup& GetItem(int32_t index) { return *groups_.at(size_t(index)); }
  TKoplGroup& operator[](int32_t index) { return GetItem(index); }

  // A new group of that name, connected at once when the server is. EOPCException
  // "group %s already exists" for a name in use or a blank one.
  TKoplGroup& Add(const std::string& name);
  // A new group with the defaults and no checks (the session reader).
  TKoplGroup& AddItem();
  // Exact, case-sensitive name; -1 / nullptr when none.
  int32_t IndexOf(const std::string& name) const;
  TKoplGroup* Find(const std::string& name);
  // The group of that collection ID, or nullptr.
  TKoplGroup* FindItemID(int32_t id);
  // Frees the group (it disconnects first). EOPCException "group not found".
  void Remove(const std::string& name);
  void Delete(int32_t index);
  // DisconnectAll, then frees every group.
  void Clear();
  void DisconnectAll();
  // Connects every group that is not connected.
  void ConnectAll();

 private:
  TKoplServer& owner_;
  std::vector<std::unique_ptr<TKoplGroup>> groups_;
  int32_t next_id_ = 0;
};

class TKoplGroup {
 public:
  TKoplGroup(TKoplGroups& collection, int32_t id);
  ~TKoplGroup();
  TKoplGroup(const TKoplGroup&) = delete;
  TKoplGroup& operator=(const TKoplGroup&) = delete;

  int32_t ID() const { return id_; }
  int32_t Index() const;
  TKoplGroups& Collection() { return collection_; }
  TKoplServer& Server() { return server_; }
  std::string GetDisplayName() const;

  // ---- published properties ----
  const std::string& Name() const { return name_; }
  // While connected the server-side group is renamed first (OpcCheck).
  void SetName(const std::string& value);
  bool IsActive() const { return is_active_; }
  void SetIsActive(bool value);
  // The rate in force: after a change, the rate the server revised it to.
  int32_t UpdateRate() const { return update_rate_; }
  void SetUpdateRate(int32_t value);
  float DeadBand() const { return dead_band_; }
  void SetDeadBand(float value);
  int32_t LocaleId() const { return locale_id_; }
  void SetLocaleId(int32_t value);
  int32_t TimeBias() const { return time_bias_; }
  void SetTimeBias(int32_t value);
  TdDefaultItem& DefaultItem() { return default_item_; }
  TKoplItems& OPCItems() { return *items_; }

  // ---- state ----
  bool Connected() const { return item_mgt_ != nullptr; }
  // The server's group handle; nullopt while not added.
  std::optional<platform::com::OPCHANDLE> ServerHandle() const { return server_handle_; }
  // Transaction or cancel id of the last asynchronous write, 0 = none.
  uint32_t PendingTransaction() const { return pending_transaction_; }
  void ClearTransaction(uint32_t transaction_id);
  const std::shared_ptr<platform::com::IOPCItemMgt>& GroupRef() const { return item_mgt_; }
  bool HasDataCallback() const { return data_callback_ != nullptr; }
  bool HasAdviseSink() const { return advise_sink_ != nullptr; }

  // ---- operations ----
  // Sends the state to the server when the group has its state interface; rate in: the rate
  // asked for, out: the rate in force.
  void ApplyState(int32_t& rate, bool active, uint32_t client_handle, int32_t locale_id, float dead_band,
                  int32_t time_bias);
  // The server's view of the group; "not connected to server" (DoError) when not connected.
  tGroupStateRec GetState();
  // Write the items' WriteValue; list nullptr = all items of the group. True when every item
  // succeeded; a failed item gets its code and Quality 0.
  bool SyncWriteItems(TKoplItemList* list = nullptr);
  // The completion arrives later as OnWriteComplete or OnWriteError.
  bool AsyncWriteItems(TKoplItemList* list = nullptr);
  void ConnectGroup();
  void DisconnectGroup();

 private:
  enum class Field { IsActive, UpdateRate, DeadBand, LocaleId, TimeBias };
  template <class T>
  void SetStateField(T& field, T value, Field which);
  struct WriteArrays;
  TKoplItemList ListOrAllItems(TKoplItemList* list);

  TKoplGroups& collection_;
  TKoplServer& server_;
  const int32_t id_;

  std::shared_ptr<platform::com::IOPCItemMgt> item_mgt_;
  std::shared_ptr<TKoplDataCallback> data_callback_;
  std::shared_ptr<TKoplAdviseSink> advise_sink_;
  std::shared_ptr<platform::com::IOPCGroupStateMgt> state_;
  std::shared_ptr<platform::com::IOPCSyncIO> sync_io_;
  std::shared_ptr<platform::com::IOPCAsyncIO2> async_io2_;
  std::shared_ptr<platform::com::IOPCAsyncIO> async_io_;
  std::optional<platform::com::OPCHANDLE> server_handle_;

  bool is_active_ = true;
  int32_t time_bias_ = 0;
  int32_t locale_id_ = 0;
  int32_t update_rate_ = 1000;
  float dead_band_ = 0;
  std::string name_;
  TdDefaultItem default_item_;
  std::unique_ptr<TKoplItems> items_;
  uint32_t pending_transaction_ = 0;
};

// Process-wide counter of asynchronous writes (main thread only).
uint32_t AsyncTransactionCounter();

}  // namespace kopl
