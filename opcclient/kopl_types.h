// What the components of the client library share: their forward declarations, the requested
// data types, the state records and the event types.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "opcclient/kopl_routines.h"

namespace kopl {

class TKoplServer;
class TKoplGroups;
class TKoplGroup;
class TKoplItems;
class TKoplItem;
class TKoplItemList;
class TKoplBrowser;

// The requested data type of an item; the number is the VARTYPE. vtEMPTY asks for the
// server's canonical type.
enum class OPCADatatype : uint16_t {
  vtEMPTY, vtNULL, vtI2, vtI4, vtR4, vtR8, vtCY, vtDATE, vtBSTR, vtDISPATCH, vtERROR, vtBOOL, vtVARIANT,
  vtUNKNOWN, vtDECIMAL, vtundef, vtI1, vtUI1, vtUI2, vtUI4, vtI8, vtUI8, vtINT, vtUINT, vtVOID, vtHRESULT,
  vtPTR, vtSAFEARRAY, vtCARRAY, vtUSERDEFINED, vtLPSTR, vtLPWSTR,
};
inline constexpr int kDatatypeCount = 32;

// "vtEMPTY" ... "vtLPWSTR".
std::string_view DatatypeName(OPCADatatype type);
// The type of a name, compared ignoring case; nullopt for any other text.
std::optional<OPCADatatype> DatatypeFromName(std::string_view name);

// Access-rights filter bits of the browser.
inline constexpr uint32_t opcReadable = 1;
inline constexpr uint32_t opcWritable = 2;

// Defaults a new group takes.
struct TdDefaultGroup {
  bool IsActive = true;
  int32_t UpdateRate = 1000;  // ms
  float DeadBand = 0;         // percent
  int32_t LocaleId = 0;
  int32_t TimeBias = 0;  // minutes
};

// Defaults a new item of a group takes.
struct TdDefaultItem {
  bool IsActive = true;
  std::string AccessPath;
  OPCADatatype RequestDataType = OPCADatatype::vtEMPTY;
};

struct tServerStateRec {
  TDateTime StartTime = 0;
  TDateTime CurrentTime = 0;
  TDateTime LastUpdateTime = 0;
  int32_t ServerState = 0;
  uint32_t GroupCount = 0;
  uint32_t BandWidth = 0;
  uint16_t MajorVersion = 0;
  uint16_t MinorVersion = 0;
  uint16_t BuildNumber = 0;
  std::string VendorInfo;
};

struct tGroupStateRec {
  int32_t UpdateRate = 0;
  bool Active = false;
  std::string Name;
  int32_t TimeBias = 0;
  float DeadBand = 0;
  int32_t LocaleId = 0;
  uint32_t ClientGroupHandle = 0;
  uint32_t ServerGroupHandle = 0;
};

// Events; Sender is the server component. A data-change list is freed when the event returns:
// a handler that needs the items later keeps the item references, never the list.
using TOnOPCErrorEvent = std::function<void(TKoplServer* Sender, const std::string& Errorstring, bool& RaiseException)>;
using TOnOPCServerShutdownEvent = std::function<void(TKoplServer* Sender, const std::string& Reason)>;
using TOnOPCConnectEvent = std::function<void(TKoplServer* Sender)>;
using TOnOPCDataChangeEvent = std::function<void(TKoplServer* Sender, TKoplItemList& ItemList)>;

}  // namespace kopl
