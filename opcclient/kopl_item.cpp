#include "opcclient/kopl_item.h"

#include <array>

#include "opcclient/kopl_group.h"
#include "opcclient/kopl_server.h"

namespace kopl {

namespace com = platform::com;

namespace {

constexpr std::array<std::string_view, kDatatypeCount> kDatatypeNames = {
    "vtEMPTY",   "vtNULL",     "vtI2",     "vtI4",      "vtR4",       "vtR8",          "vtCY",    "vtDATE",
    "vtBSTR",    "vtDISPATCH", "vtERROR",  "vtBOOL",    "vtVARIANT",  "vtUNKNOWN",     "vtDECIMAL", "vtundef",
    "vtI1",      "vtUI1",      "vtUI2",    "vtUI4",     "vtI8",       "vtUI8",         "vtINT",   "vtUINT",
    "vtVOID",    "vtHRESULT",  "vtPTR",    "vtSAFEARRAY", "vtCARRAY", "vtUSERDEFINED", "vtLPSTR", "vtLPWSTR",
};

bool Blank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

com::BOOL OpcBool(bool b) { return b ? -1 : 0; }

// Per-item code of a call: the server's entry, else the call's own result when the server
// sent fewer entries than items.
HRESULT CodeOf(const std::vector<HRESULT>& errors, size_t i, HRESULT call) {
  return i < errors.size() ? errors[i] : (com::FAILED(call) ? call : com::E_FAIL);
}

std::vector<com::OPCHANDLE> ServerHandles(const TKoplItemList& list) {
  std::vector<com::OPCHANDLE> handles;
  for (TKoplItem* item : list) handles.push_back(*item->ServerHandle());
  return handles;
}

}  // namespace

std::string_view DatatypeName(OPCADatatype type) {
  size_t i = size_t(type);
  return i < kDatatypeNames.size() ? kDatatypeNames[i] : std::string_view();
}

std::optional<OPCADatatype> DatatypeFromName(std::string_view name) {
  for (size_t i = 0; i < kDatatypeNames.size(); ++i) {
    if (SameIgnoringCase(kDatatypeNames[i], name)) return OPCADatatype(i);
  }
  return std::nullopt;
}

// ---- TKoplItemList ----

TKoplItemList::TKoplItemList(TKoplItems& collection) {
  for (int32_t i = 0; i < collection.Count(); ++i) items_.push_back(&collection[i]);
}

TKoplItemList TKoplItemList::CreateForItem(TKoplItem& item) {
  TKoplItemList list;
  list.Add(&item);
  return list;
}

void TKoplItemList::CheckAdded() const {
  for (TKoplItem* item : items_) {
    if (!item->Added()) throw EOPCException("item " + item->ItemID() + " not exists on OPCServer");
  }
}

std::string TKoplItemList::ErrorReport(const std::string& title) const {
  std::string text = title + "\r\n";
  int failed = 0;
  for (TKoplItem* item : items_) {
    if (item->ItemErrorCode == 0) continue;
    if (++failed > 26) continue;
    std::string why = OpcErrorText(item->ItemErrorCode);
    if (why.empty()) why = "unknown error : " + std::to_string(item->ItemErrorCode);
    text += item->ItemID() + "- " + why + "\r\n";
  }
  return failed ? text : "";
}

void TKoplItemList::ReportErrors(const std::string& title, bool raise_mode) const {
  std::string text = ErrorReport(title);
  if (text.empty()) return;
  if (raise_mode) throw EOPCException(text);
  ShowMessage(text);
}

// ---- TKoplItems ----

TKoplItems::TKoplItems(TKoplGroup& group) : group_(group) {}

TKoplItems::~TKoplItems() {
  while (!items_.empty()) items_.pop_back();
}

TKoplItem& TKoplItems::AddItem() {
  items_.push_back(std::make_unique<TKoplItem>(*this, next_id_++));
  TKoplItem& item = *items_.back();
  handles_[item.ClientHandle()] = &item;
  return item;
}

TKoplItem& TKoplItems::Add(const std::string& item_id) {
  TKoplItem& item = AddItem();
  item.SetItemID(item_id);
  item.ChangeOnServer(TKoplItem::kAdd);
  return item;
}

void TKoplItems::Delete(TKoplItem& item) {
  std::exception_ptr failure;
  item.ItemErrorCode = 0;
  try {
    item.ChangeOnServer(TKoplItem::kRemove);
  } catch (...) {
    failure = std::current_exception();  // the item goes all the same
  }
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (it->get() == &item) {
      items_.erase(it);
      break;
    }
  }
  if (failure) std::rethrow_exception(failure);
}

TKoplItem* TKoplItems::FindHandle(com::OPCHANDLE handle) const {
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : it->second;
}

bool TKoplItems::AddToServer(TKoplItemList& list, bool add_flag) {
  TKoplServer& server = group_.Server();
  if (server.Designing() && add_flag) return false;
  if (list.Count() == 0) return false;
  for (TKoplItem* item : list) {
    if (item->Added()) throw EOPCException("item " + item->ItemID() + " already exists on OPCServer");
  }
  const std::shared_ptr<com::IOPCItemMgt>& mgt = group_.GroupRef();
  if (!mgt) return false;

  std::vector<com::OPCITEMDEF> defs;
  defs.reserve(size_t(list.Count()));
  for (TKoplItem* item : list) {
    com::OPCITEMDEF d;
    d.szAccessPath = ToOpcText(item->AccessPath());
    d.szItemID = ToOpcText(item->ItemID());
    d.bActive = OpcBool(item->IsActive());
    d.hClient = item->ClientHandle();
    d.vtRequestedDataType = com::VARTYPE(item->RequestDatatype());
    defs.push_back(std::move(d));
  }
  std::vector<com::OPCITEMRESULT> results;
  std::vector<HRESULT> errors;
  HRESULT hr = add_flag ? mgt->AddItems(com::DWORD(defs.size()), defs.data(), &results, &errors)
                        : mgt->ValidateItems(com::DWORD(defs.size()), defs.data(), com::FALSE, &results, &errors);
  OpcCheck(hr);
  int failed = 0;
  for (size_t i = 0; i < defs.size(); ++i) {
    TKoplItem& item = list[int32_t(i)];
    HRESULT code = CodeOf(errors, i, hr);
    if (com::SUCCEEDED(code) && i < results.size()) {
      if (add_flag) item.server_handle_ = results[i].hServer;
      item.canonical_datatype_ = results[i].vtCanonicalDataType;
      item.access_rights_ = results[i].dwAccessRights;
      item.ItemErrorCode = 0;
    } else {
      item.ItemErrorCode = com::FAILED(code) ? code : com::E_FAIL;
      ++failed;
    }
  }
  return failed == 0;
}

bool TKoplItems::HandleCall(TKoplItemList& list, bool remove, const HandleCallFn& call,
                            const std::function<void(TKoplItem&)>& on_success) {
  if (group_.Server().Designing() || list.Count() == 0) return false;
  list.CheckAdded();
  const std::shared_ptr<com::IOPCItemMgt>& mgt = group_.GroupRef();
  if (!mgt) return false;
  std::vector<com::OPCHANDLE> handles = ServerHandles(list);
  std::vector<HRESULT> errors;
  HRESULT hr = call(*mgt, handles, &errors);
  // A failed removal is reported per item; the other calls raise.
  if (!remove) OpcCheck(hr);
  int failed = 0;
  for (size_t i = 0; i < handles.size(); ++i) {
    TKoplItem& item = list[int32_t(i)];
    HRESULT code = remove ? (i < errors.size() ? errors[i] : hr) : CodeOf(errors, i, hr);
    if (remove) item.server_handle_.reset();  // gone from our side whatever the server says
    if (com::SUCCEEDED(code)) {
      item.ItemErrorCode = 0;
      if (on_success) on_success(item);
    } else {
      item.ItemErrorCode = code;
      ++failed;
    }
  }
  return failed == 0;
}

bool TKoplItems::RemoveFromServer(TKoplItemList& list) {
  return HandleCall(list, true, [](com::IOPCItemMgt& mgt, const std::vector<com::OPCHANDLE>& h, std::vector<HRESULT>* e) {
    return mgt.RemoveItems(com::DWORD(h.size()), h.data(), e);
  });
}

bool TKoplItems::SetActiveOnServer(TKoplItemList& list, bool active) {
  return HandleCall(
      list, false,
      [active](com::IOPCItemMgt& mgt, const std::vector<com::OPCHANDLE>& h, std::vector<HRESULT>* e) {
        return mgt.SetActiveState(com::DWORD(h.size()), h.data(), OpcBool(active), e);
      },
      [active](TKoplItem& item) { item.is_active_ = active; });
}

bool TKoplItems::SetDatatypesOnServer(TKoplItemList& list) {
  std::vector<com::VARTYPE> types;
  for (TKoplItem* item : list) types.push_back(com::VARTYPE(item->RequestDatatype()));
  return HandleCall(list, false, [&types](com::IOPCItemMgt& mgt, const std::vector<com::OPCHANDLE>& h,
                                          std::vector<HRESULT>* e) {
    return mgt.SetDatatypes(com::DWORD(h.size()), h.data(), types.data(), e);
  });
}

void TKoplItems::AddAllToServer() {
  TKoplItemList list;
  for (auto& item : items_) {
    if (!item->Added()) list.Add(item.get());
  }
  try {
    AddToServer(list, !group_.Server().Designing());
  } catch (...) {
    list.ReportErrors("cannot add Items:", false);
    throw;
  }
  list.ReportErrors("cannot add Items:", false);
}

void TKoplItems::RemoveAllFromServer() {
  TKoplItemList list;
  for (auto& item : items_) {
    if (item->Added()) list.Add(item.get());
  }
  RemoveFromServer(list);
}

void TKoplItems::Clear() {
  RemoveAllFromServer();
  while (!items_.empty()) items_.pop_back();
}

// ---- TKoplItem ----

TKoplItem::TKoplItem(TKoplItems& collection, int32_t id)
    : collection_(collection), group_(collection.Owner()), id_(id) {
  const TdDefaultItem& d = group_.DefaultItem();
  is_active_ = d.IsActive;
  request_datatype_ = d.RequestDataType;
  access_path_ = d.AccessPath;
}

TKoplItem::~TKoplItem() {
  collection_.handles_.erase(ClientHandle());
  // The collection removes an added item from the server before it frees it; this covers an
  // item freed with its collection while still added.
  if (Added()) {
    try {
      ChangeOnServer(kRemove);
    } catch (const std::exception& e) {
      HandleException(e);
    }
  }
}

int32_t TKoplItem::Index() const {
  for (int32_t i = 0; i < collection_.Count(); ++i) {
    if (&collection_[i] == this) return i;
  }
  return -1;
}

std::string TKoplItem::GetDisplayName() const { return Blank(item_id_) ? "TKoplItem" : item_id_; }

void TKoplItem::SetItemID(const std::string& value) {
  if (Added()) throw EOPCException("not possible if connected to OPC Server");
  item_id_ = value;
  if (group_.Server().Designing()) ChangeOnServer(kValidate);
}

void TKoplItem::SetAccessPath(const std::string& value) {
  if (Added()) throw EOPCException("not possible if connected to OPC Server");
  access_path_ = value;
  if (group_.Server().Designing()) ChangeOnServer(kValidate);
}

void TKoplItem::SetIsActive(bool value) {
  if (value == is_active_) return;
  is_active_ = value;
  if (!group_.Server().Designing()) ChangeOnServer(kSetActive, value);
}

void TKoplItem::SetRequestDatatype(OPCADatatype value) {
  if (value == request_datatype_) return;
  request_datatype_ = value;
  if (!group_.Server().Designing()) ChangeOnServer(kSetDatatype);
}

void TKoplItem::ChangeOnServer(Operation operation, bool value) {
  TKoplServer& server = group_.Server();
  // While a session is read the setters only store; the connect after it adds everything.
  if (server.BatchMode() || !server.Active() || server.Loading()) return;
  TKoplItemList list = TKoplItemList::CreateForItem(*this);
  try {
    switch (operation) {
      case kRemove:
        if (Added()) collection_.RemoveFromServer(list);
        break;
      case kAdd:
        collection_.AddToServer(list, true);
        break;
      case kSetActive:
        collection_.SetActiveOnServer(list, value);
        break;
      case kValidate:
        collection_.ValidateOnServer(list);
        break;
      case kSetDatatype:
        collection_.SetDatatypesOnServer(list);
        break;
    }
  } catch (...) {
    list.ReportErrors("OPC Command:", true);
    throw;
  }
  list.ReportErrors("OPC Command:", true);
}

void TKoplItem::WriteAsync(const Variant& new_value) {
  WriteValue = new_value;
  TKoplItemList list = TKoplItemList::CreateForItem(*this);
  if (!group_.AsyncWriteItems(&list)) list.ReportErrors("cannot write Items:", true);
}

void TKoplItem::WriteSync(const Variant& new_value) {
  WriteValue = new_value;
  TKoplItemList list = TKoplItemList::CreateForItem(*this);
  if (!group_.SyncWriteItems(&list)) list.ReportErrors("cannot write Items:", true);
}

}  // namespace kopl
