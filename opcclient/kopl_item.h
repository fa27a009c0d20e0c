// Items: TKoplItems is the collection of a group's items, TKoplItem one item with its latest
// value, and TKoplItemList a list of item references (owning none) that carries items into
// server calls, events and error reports. Every change of an item's properties goes to the
// server at once unless the server component is in batch mode, is not active or is loading.
//
// An item's client handle is a small integer (its collection ID) that the group's table turns
// back into the item; a handle a server reports that is not in the table names no item.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "opcclient/kopl_types.h"
#include "platform/com/opc_da.h"
#include "platform/com/opc_types.h"

namespace kopl {

// A display object of the visualisation client's build that shows an item's value.
class TKoplGUIItem {
 public:
  virtual ~TKoplGUIItem() = default;
  virtual void SetValueToControl(const Variant& value) = 0;
};

class TKoplItemList {
 public:
  TKoplItemList() = default;
  // Every item of the collection, in order.
  explicit TKoplItemList(TKoplItems& collection);
  static TKoplItemList CreateForItem(TKoplItem& item);

  int32_t Count() const { return int32_t(items_.size()); }
  TKoplItem& GetItem(int32_t index) const { return *items_.at(size_t(index)); }
  TKoplItem& operator[](int32_t index) const { return GetItem(index); }
  void Add(TKoplItem* item) { items_.push_back(item); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  // EOPCException "item %s not exists on OPCServer" for the first item not added.
  void CheckAdded() const;
  // Title, then one line per item with an error code (at most 26 lines). Raises EOPCException
  // with the text in raise mode, else shows it; nothing when no item has a code.
  void ReportErrors(const std::string& title, bool raise_mode) const;
  // The report text; "" when no item has a code.
  std::string ErrorReport(const std::string& title) const;

 private:
  std::vector<TKoplItem*> items_;
};

class TKoplItems {
 public:
  explicit TKoplItems(TKoplGroup& group);
  ~TKoplItems();
  TKoplItems(const TKoplItems&) = delete;
  TKoplItems& operator=(const TKoplItems&) = delete;

  TKoplGroup& Owner() { return group_; }
  int32_t Count() const { return int32_t(items_.size()); }
  TKoplItem& GetItem(int32_t index) { return *items_.at(size_t(index)); }
  TKoplItem& operator[](int32_t index) { return GetItem(index); }

  // A new item of that ID, added on the server at once when it is connected and not in batch
  // mode (a failure raises "OPC Command:" with the item; the item stays, not added).
  TKoplItem& Add(const std::string& item_id);
  // A new item with the group's defaults and nothing sent (the session reader).
  TKoplItem& AddItem();
  // Frees the item; an added item is removed from the server first.
  void Delete(TKoplItem& item);
  // The item of a client handle; nullptr for a handle that names none.
  TKoplItem* FindHandle(platform::com::OPCHANDLE handle) const;

  // Each true when every item of the list succeeded.
  bool AddToServer(TKoplItemList& list, bool add_flag);
  bool ValidateOnServer(TKoplItemList& list) { return AddToServer(list, false); }
  bool RemoveFromServer(TKoplItemList& list);
  bool SetActiveOnServer(TKoplItemList& list, bool active);
  bool SetDatatypesOnServer(TKoplItemList& list);
  // Adds every item not added; failed ones are shown under "cannot add Items:".
  void AddAllToServer();
  void RemoveAllFromServer();
  // RemoveAllFromServer, then frees every item.
  void Clear();

 private:
  friend class TKoplItem;
  using HandleCallFn = std::function<HRESULT(platform::com::IOPCItemMgt& mgt,
                                             const std::vector<platform::com::OPCHANDLE>& handles,
                                             std::vector<HRESULT>* errors)>;
  // A call on the items' server handles, then each item's code (remove: every handle is
  // forgotten and the call's own failure is reported per item instead of raised).
  bool HandleCall(TKoplItemList& list, bool remove, const HandleCallFn& call,
                  const std::function<void(TKoplItem&)>& on_success = nullptr);
  TKoplGroup& group_;
  std::vector<std::unique_ptr<TKoplItem>> items_;
  std::unordered_map<platform::com::OPCHANDLE, TKoplItem*> handles_;
  int32_t next_id_ = 0;
};

class TKoplItem {
 public:
  TKoplItem(TKoplItems& collection, int32_t id);
  ~TKoplItem();
  TKoplItem(const TKoplItem&) = delete;
  TKoplItem& operator=(const TKoplItem&) = delete;

  int32_t ID() const { return id_; }
  platform::com::OPCHANDLE ClientHandle() const { return platform::com::OPCHANDLE(id_); }
  int32_t Index() const;
  TKoplItems& Collection() { return collection_; }
  TKoplGroup& Group() { return group_; }
  std::string GetDisplayName() const;

  // ---- published properties ----
  const std::string& ItemID() const { return item_id_; }
  // EOPCException "not possible if connected to OPC Server" while added.
  void SetItemID(const std::string& value);
  const std::string& AccessPath() const { return access_path_; }
  void SetAccessPath(const std::string& value);
  bool IsActive() const { return is_active_; }
  void SetIsActive(bool value);
  OPCADatatype RequestDatatype() const { return request_datatype_; }
  void SetRequestDatatype(OPCADatatype value);
  const Variant& Value() const { return value_; }
  int32_t Quality() const { return quality_; }
  TDateTime TimeStamp() const { return time_stamp_; }
  int32_t CanonicalDatatype() const { return canonical_datatype_; }
  int32_t EUType() const { return 0; }
  const Variant& EUInfo() const { return eu_info_; }

  // ---- state ----
  std::optional<platform::com::OPCHANDLE> ServerHandle() const { return server_handle_; }
  bool Added() const { return server_handle_.has_value(); }
  uint32_t AccessRights() const { return access_rights_; }
  // Result of the last server operation or callback for this item; 0 = none.
  HRESULT ItemErrorCode = 0;
  // The program's own reference; the library never reads it.
  void* Data = nullptr;
  // The value the writes send.
  Variant WriteValue;
  // Display objects of the visualisation build.
  std::vector<TKoplGUIItem*>& AttachedObjects() { return attached_; }

  std::string GetValueStr() const { return VariantToString(value_); }
  // Write NewValue; a failure raises "cannot write Items:" with the item.
  void WriteAsync(const Variant& new_value);
  void WriteSync(const Variant& new_value);

  // Operations of the change dispatcher.
  enum Operation { kRemove = 0, kAdd = 1, kSetActive = 2, kValidate = 3, kSetDatatype = 4 };
  // Runs the operation on the server when its component is active and not in batch mode; a
  // per-item failure raises "OPC Command:" with the item.
  void ChangeOnServer(Operation operation, bool value = false);

  // ---- what the sinks set ----
  void SetValue(Variant value) { value_ = std::move(value); }
  void SetQuality(int32_t quality) { quality_ = quality; }
  void SetTimeStamp(TDateTime t) { time_stamp_ = t; }

 private:
  friend class TKoplItems;
  TKoplItems& collection_;
  TKoplGroup& group_;
  const int32_t id_;

  bool is_active_ = true;
  int32_t canonical_datatype_ = 0;
  TDateTime time_stamp_ = 0;
  std::optional<platform::com::OPCHANDLE> server_handle_;
  Variant value_;
  OPCADatatype request_datatype_ = OPCADatatype::vtEMPTY;
  std::string item_id_;
  std::string access_path_;
  uint32_t access_rights_ = 0;
  int32_t quality_ = 0;
  Variant eu_info_;
  std::vector<TKoplGUIItem*> attached_;
};

}  // namespace kopl
