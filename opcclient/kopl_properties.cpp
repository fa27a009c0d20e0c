#include "opcclient/kopl_properties.h"

#include <algorithm>

#include "opcclient/kopl_server.h"

namespace kopl {

namespace com = platform::com;

TKoplItemProperties::TKoplItemProperties(TKoplServer* server, const std::string& item_id) : item_id_(item_id) {
  SetServer(server);
}

void TKoplItemProperties::SetServer(TKoplServer* server) {
  if (server == server_) return;
  server_ = server;
  Refresh();
}

bool TKoplItemProperties::Refresh() {
  QueryAvailable();
  return ReadValues();
}

void TKoplItemProperties::QueryAvailable() {
  items_.clear();
  if (!server_ || item_id_.empty() || !server_->ItemPropertiesRef()) return;
  com::DWORD count = 0;
  std::vector<com::DWORD> ids;
  std::vector<std::string> descriptions;
  std::vector<com::VARTYPE> types;
  OpcCheck(server_->ItemPropertiesRef()->QueryAvailableProperties(ToOpcText(item_id_), &count, &ids, &descriptions,
                                                                  &types));
  // Never more entries than every array holds.
  size_t n = std::min({size_t(count), ids.size(), descriptions.size(), types.size()});
  for (size_t i = 0; i < n; ++i) items_.push_back({ids[i], FromOpcText(descriptions[i]), types[i], Variant()});
}

bool TKoplItemProperties::ReadValues() {
  if (items_.empty() || !server_ || item_id_.empty() || !server_->ItemPropertiesRef()) return false;
  std::vector<com::DWORD> ids;
  for (const TKoplItemProperty& p : items_) ids.push_back(p.PropertyID);
  std::vector<Variant> values;
  std::vector<HRESULT> errors;
  HRESULT hr = server_->ItemPropertiesRef()->GetItemProperties(ToOpcText(item_id_), com::DWORD(ids.size()),
                                                                ids.data(), &values, &errors);
  if (com::FAILED(hr)) return false;
  bool ok = true;
  for (size_t i = 0; i < items_.size(); ++i) {
    items_[i].Value = Variant();
    if (i >= errors.size() || i >= values.size() || errors[i] != 0) {
      ok = false;
      continue;
    }
    items_[i].Value = values[i];
  }
  return ok;
}

}  // namespace kopl
