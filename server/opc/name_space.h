// The OPC namespace of the station list: the central modem as the root node, every station as
// a node below it, a tag per named register with its item handle, and item properties for the
// channels' scaling and the stations' type and address.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/variant.h"
#include "platform/toolkit/toolkit_host.h"
#include "server/driver/fumo.h"

namespace opc {

// Channel kind of item property 5007 by register group 1..4.
int32_t ChannelKind(int32_t group);

// "12-7": the first address byte, then each of the next two that is not 0 (item property 5006).
std::string AddressText(const driver::TFuMo& station);

class TNameSpaceBuilder {
 public:
  TNameSpaceBuilder(TCreateNode createNode, TCreateTag createTag, TCreateProperty createProperty)
      : create_node_(createNode), create_tag_(createTag), create_property_(createProperty) {}

  // The whole build; a failure ends in FatalErrorCode, nothing is thrown.
  void Build();
  // Tags and properties of one station; 0 or the code that stopped it.
  int32_t CreateNSItems(uint32_t node, int32_t station);
  // Properties 5001-5004 and 5007 of a channel; 0 or an error code, never throws.
  int32_t BuildProperties(uint32_t tag, const driver::TWert* wert, int32_t itemHandle, int32_t kind);
  // Properties 5005 and 5006 of a station; as BuildProperties.
  int32_t BuildSystemProperties(uint32_t tag, const driver::TFuMo* station, int32_t itemHandle);

 private:
  void Property(uint32_t tag, uint32_t id, const char* description, const platform::com::Variant& value,
                int32_t handle);

  TCreateNode create_node_;
  TCreateTag create_tag_;
  TCreateProperty create_property_;
};

}  // namespace opc
