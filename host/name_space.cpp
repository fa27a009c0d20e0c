#include "host/name_space.h"

#include <exception>

#include "platform/cp1252.h"

namespace host {

namespace com = platform::com;
namespace tk = platform::toolkit;

namespace {

thread_local NameSpace* building = nullptr;

std::string Text(const char* name) { return name ? platform::Cp1252ToUtf8(name) : std::string(); }

// A callback must not throw into the library: a failure of the host's own is reported as one.
template <class Fn>
int32_t Guarded(Fn fn) {
  try {
    return fn();
  } catch (const std::exception&) {
    QarSetLastError(tk::kErrorHostException);
    return 0;
  }
}

uint32_t LastError(com::AddressSpace::Refusal why) {
  return why == com::AddressSpace::Refusal::kUnknownParent ? tk::kErrorInvalidHandle : tk::kErrorInvalidParameter;
}

bool ValueType(com::VARTYPE vt) { return com::IsScalarType(vt) && vt != com::VT_EMPTY && vt != com::VT_NULL; }

}  // namespace

NameSpace::Building::Building(NameSpace& ns) : previous_(building) { building = &ns; }
NameSpace::Building::~Building() { building = previous_; }

void NameSpace::Build(TSOXpSBuildDANameSpace build_name_space) {
  Building b(*this);
  build_name_space(&CreateNode, &CreateTag, &CreateProperty);
}

const std::vector<com::DaProperty>& NameSpace::PropertiesOf(const std::string& item_id) const {
  static const std::vector<com::DaProperty> none;
  auto it = properties_.find(item_id);
  return it == properties_.end() ? none : it->second;
}

int32_t NameSpace::CreateNode(uint32_t parent, const char* name, uint32_t* node) {
  return Guarded([&]() -> int32_t {
    NameSpace* ns = building;
    if (!ns || !node) {
      QarSetLastError(tk::kErrorHostException);
      return 0;
    }
    com::AddressSpace::Refusal why;
    auto made = ns->space_.AddNode(parent, Text(name), &why);
    if (!made) {
      QarSetLastError(LastError(why));
      return 0;
    }
    *node = *made;
    return 1;
  });
}

int32_t NameSpace::CreateTag(uint32_t node, const char* name, com::VARTYPE canonical_type, uint32_t access_rights,
                             int32_t item_handle, uint32_t* tag) {
  return Guarded([&]() -> int32_t {
    NameSpace* ns = building;
    if (!ns || !tag) {
      QarSetLastError(tk::kErrorHostException);
      return 0;
    }
    const uint32_t all = tk::kAccessRead | tk::kAccessWrite;
    if (!ValueType(canonical_type) || access_rights == 0 || (access_rights & ~all) != 0) {
      QarSetLastError(tk::kErrorInvalidParameter);
      return 0;
    }
    com::AddressSpace::Refusal why;
    const com::AddressItem* item =
        ns->space_.AddTag(node, Text(name), canonical_type, access_rights, static_cast<uint32_t>(item_handle), &why);
    if (!item) {
      QarSetLastError(LastError(why));
      return 0;
    }
    ns->tags_.push_back(item);
    *tag = static_cast<uint32_t>(ns->tags_.size());
    return 1;
  });
}

int32_t NameSpace::CreateProperty(uint32_t tag, uint32_t property_id, const char* description, com::VARTYPE type,
                                  uint32_t, const com::RawVariant* value, int32_t, uint32_t* property) {
  return Guarded([&]() -> int32_t {
    NameSpace* ns = building;
    if (!ns || !property || !value || tag == 0 || tag > ns->tags_.size()) {
      QarSetLastError(ns ? tk::kErrorInvalidHandle : tk::kErrorHostException);
      return 0;
    }
    // The standard properties 1 to 6 are the host's own; an ID twice on one item is refused.
    std::vector<com::DaProperty>& list = ns->properties_[ns->tags_[tag - 1]->item_id];
    bool taken = property_id <= 6;
    for (const com::DaProperty& p : list) taken = taken || p.id == property_id;
    com::DaProperty p;
    if (taken || !ValueType(type) || com::FAILED(com::VariantFromRaw(*value, &p.value))) {
      QarSetLastError(tk::kErrorInvalidParameter);
      return 0;
    }
    p.id = property_id;
    p.description = Text(description);
    p.type = type;
    list.push_back(std::move(p));
    *property = ++ns->properties_made_;
    return 1;
  });
}

}  // namespace host
