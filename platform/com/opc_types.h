// The plain types of the OPC DA and OPC Common interfaces. Texts are UTF-8; arrays that the
// server allocates for the caller are returned as vectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/raw_variant.h"
#include "platform/com/variant.h"
#include "platform/filetime.h"

namespace platform::com {

using platform::FILETIME;
using DWORD = uint32_t;
using WORD = uint16_t;
using LONG = int32_t;
using ULONG = uint32_t;
using BOOL = int32_t;
using LCID = uint32_t;
using OPCHANDLE = uint32_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

enum OPCDATASOURCE : DWORD { OPC_DS_CACHE = 1, OPC_DS_DEVICE = 2 };
enum OPCBROWSETYPE : DWORD { OPC_BRANCH = 1, OPC_LEAF = 2, OPC_FLAT = 3 };
enum OPCNAMESPACETYPE : DWORD { OPC_NS_HIERARCHIAL = 1, OPC_NS_FLAT = 2 };
enum OPCBROWSEDIRECTION : DWORD { OPC_BROWSE_UP = 1, OPC_BROWSE_DOWN = 2, OPC_BROWSE_TO = 3 };
enum OPCSERVERSTATE : DWORD {
  OPC_STATUS_RUNNING = 1,
  OPC_STATUS_FAILED = 2,
  OPC_STATUS_NOCONFIG = 3,
  OPC_STATUS_SUSPENDED = 4,
  OPC_STATUS_TEST = 5,
};

// Access rights of an item.
inline constexpr DWORD OPC_READABLE = 1;
inline constexpr DWORD OPC_WRITEABLE = 2;

// OPC quality words.
inline constexpr WORD OPC_QUALITY_BAD = 0x00;
inline constexpr WORD OPC_QUALITY_NOT_CONNECTED = 0x08;
inline constexpr WORD OPC_QUALITY_LAST_KNOWN = 0x14;
inline constexpr WORD OPC_QUALITY_UNCERTAIN = 0x40;
inline constexpr WORD OPC_QUALITY_GOOD = 0xC0;

struct OPCITEMDEF {
  std::string szAccessPath;
  std::string szItemID;
  BOOL bActive = TRUE;
  OPCHANDLE hClient = 0;
  std::vector<uint8_t> pBlob;  // dwBlobSize is its size
  VARTYPE vtRequestedDataType = VT_EMPTY;
};

struct OPCITEMRESULT {
  OPCHANDLE hServer = 0;
  VARTYPE vtCanonicalDataType = VT_EMPTY;
  DWORD dwAccessRights = 0;
  std::vector<uint8_t> pBlob;
};

struct OPCITEMSTATE {
  OPCHANDLE hClient = 0;
  FILETIME ftTimeStamp;
  WORD wQuality = 0;
  Variant vDataValue;
};

struct OPCSERVERSTATUS {
  FILETIME ftStartTime;
  FILETIME ftCurrentTime;
  FILETIME ftLastUpdateTime;
  OPCSERVERSTATE dwServerState = OPC_STATUS_RUNNING;
  DWORD dwGroupCount = 0;
  DWORD dwBandWidth = 0;
  WORD wMajorVersion = 0;
  WORD wMinorVersion = 0;
  WORD wBuildNumber = 0;
  std::string szVendorInfo;
};

}  // namespace platform::com
