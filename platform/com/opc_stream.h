// The memory block of the OPC DA 1.0 data-object path, little-endian:
//   header (20 bytes): total size, item count, client group handle, transaction id
//                      (0 for ordinary changes), status HRESULT of the group;
//   item headers:      "OPCSTMFORMATDATATIME" 20 bytes each: client handle, value offset,
//                      quality (16 bits), reserved (16 bits), time stamp (FILETIME);
//                      "OPCSTMFORMATDATA" 12 bytes each: the same without the time stamp;
//                      "OPCSTMFORMATWRITECOMPLETE" 8 bytes each: client handle, HRESULT;
//   values:            a 16-byte variant each (offsets from the start of the block); a text
//                      value is followed by its byte count (32 bits) and the UTF-16 text
//                      with a terminating zero. The variant's pointer field carries 0.
// Arrays have no place in this layout: such a value goes as VT_EMPTY with bad quality.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/com/opc_types.h"

namespace platform::com {

struct OpcStreamHeader {
  DWORD dwSize = 0;
  DWORD dwItemCount = 0;
  OPCHANDLE hClientGroup = 0;
  DWORD dwTransactionID = 0;
  HRESULT hrStatus = S_OK;
};

struct OpcStreamItem {
  OPCHANDLE hClient = 0;
  WORD wQuality = 0;
  FILETIME ftTimeStamp;  // only with the time format
  Variant value;
};

struct OpcStreamWriteResult {
  OPCHANDLE hClient = 0;
  HRESULT hrError = S_OK;
};

std::vector<uint8_t> BuildOpcDataStream(bool with_time, OPCHANDLE hClientGroup, DWORD dwTransactionID,
                                        HRESULT hrStatus, const std::vector<OpcStreamItem>& items);
// false for a block that does not hold together (sizes, offsets, counts, value types).
bool ParseOpcDataStream(const std::vector<uint8_t>& block, bool with_time, OpcStreamHeader* header,
                        std::vector<OpcStreamItem>* items);

std::vector<uint8_t> BuildOpcWriteCompleteStream(OPCHANDLE hClientGroup, DWORD dwTransactionID, HRESULT hrStatus,
                                                 const std::vector<OpcStreamWriteResult>& results);
bool ParseOpcWriteCompleteStream(const std::vector<uint8_t>& block, OpcStreamHeader* header,
                                 std::vector<OpcStreamWriteResult>* results);

}  // namespace platform::com
