// The namespace that the server library builds through the host's three callbacks: its nodes
// and tags become an address space (item IDs are the node names and the tag name joined by
// "."), its item properties a copy of their own that the host answers from.
//
// The library's names are Windows-1252 bytes; here, at the OPC boundary, they become UTF-8.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/com/address_space.h"
#include "platform/com/da_server.h"
#include "platform/toolkit/toolkit_host.h"

namespace host {

class NameSpace {
 public:
  NameSpace() = default;
  NameSpace(const NameSpace&) = delete;
  NameSpace& operator=(const NameSpace&) = delete;

  // Hands the callbacks to the library's namespace export and keeps what they create. The
  // callbacks carry no context, so they work on the namespace being built on this thread.
  void Build(TSOXpSBuildDANameSpace build_name_space);

  const platform::com::AddressSpace& Space() const { return space_; }
  // The library's properties of an item, in the order created; empty for an unknown ID.
  const std::vector<platform::com::DaProperty>& PropertiesOf(const std::string& item_id) const;
  const std::map<std::string, std::vector<platform::com::DaProperty>>& Properties() const { return properties_; }

  // The callbacks; they work on the namespace whose Build runs on the calling thread. On a
  // refusal createNode sets the last error: 6 for an unknown parent, 87 for an empty name or
  // one its parent already has, 1064 when the host itself failed.
  static int32_t CreateNode(uint32_t parent, const char* name, uint32_t* node);
  static int32_t CreateTag(uint32_t node, const char* name, platform::com::VARTYPE canonical_type,
                           uint32_t access_rights, int32_t item_handle, uint32_t* tag);
  static int32_t CreateProperty(uint32_t tag, uint32_t property_id, const char* description,
                                platform::com::VARTYPE type, uint32_t access_rights,
                                const platform::com::RawVariant* value, int32_t property_handle, uint32_t* property);

  // Makes this the namespace the callbacks work on for the calling thread (Build does it).
  class Building {
   public:
    explicit Building(NameSpace& ns);
    ~Building();
    Building(const Building&) = delete;
    Building& operator=(const Building&) = delete;

   private:
    NameSpace* previous_;
  };

 private:
  platform::com::AddressSpace space_;
  std::vector<const platform::com::AddressItem*> tags_;  // tag n is tags_[n - 1]
  std::map<std::string, std::vector<platform::com::DaProperty>> properties_;
  uint32_t properties_made_ = 0;
};

}  // namespace host
