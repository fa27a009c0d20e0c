// TKoplItemProperties reads the properties of one item ID from a connected server: which the
// server offers (ID, description, type) and their values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "opcclient/kopl_types.h"

namespace kopl {

struct TKoplItemProperty {
  uint32_t PropertyID = 0;
  std::string Description;
  uint32_t DataType = 0;  // VARTYPE
  Variant Value;          // empty until read, and when the server could not give it
};

class TKoplItemProperties {
 public:
  // Reads the properties at once (SetServer).
  TKoplItemProperties(TKoplServer* server, const std::string& item_id);

  const std::string& ItemID() const { return item_id_; }
  TKoplServer* Server() const { return server_; }
  // A different server: stored, then Refresh.
  void SetServer(TKoplServer* server);
  // QueryAvailable, then ReadValues; its result.
  bool Refresh();
  // The properties the server offers for the item, values empty. A failing query raises.
  void QueryAvailable();
  // False when there is nothing to read, the call fails or any property has no value.
  bool ReadValues();

  int32_t Count() const { return int32_t(items_.size()); }
  TKoplItemProperty& GetItem(int32_t index) { return items_.at(size_t(index)); }
  TKoplItemProperty& operator[](int32_t index) { return GetItem(index); }

 private:
  std::string item_id_;
  TKoplServer* server_ = nullptr;
  std::vector<TKoplItemProperty> items_;
};

}  // namespace kopl
