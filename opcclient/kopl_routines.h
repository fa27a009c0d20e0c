// The plain routines of the client library: state texts, the quick local server list, time
// and value conversions, class names, and the advise helpers the sinks use.
//
// Texts: every text of the library (server and item names, error texts, browse names) is
// Windows-1252, as everywhere in the system; the OPC interfaces carry UTF-8, so text becomes
// UTF-8 only where it crosses into a server call (ToOpcText) and back (FromOpcText). Values
// stay platform variants (UTF-8 inside) until VariantToString turns them into text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/data_object.h"
#include "platform/com/enum.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "platform/filetime.h"

namespace kopl {

using platform::FILETIME;
using platform::com::CLSID;
using platform::com::DWORD;
using platform::com::HRESULT;
using platform::com::IID;
using platform::com::Variant;

// Local date and time as days since 1899-12-30 with the time of day as fraction; 0 = none.
using TDateTime = double;

std::string ToOpcText(const std::string& text);    // Windows-1252 -> UTF-8
std::string FromOpcText(const std::string& text);  // UTF-8 -> Windows-1252

// 1 "running", 2 "failed", 3 "no config", 4 "suspended", 5 "test"; "" for any other state.
std::string ServerStateText(int32_t state);
// The keys under the classes root that have an "OPC" subkey: the registered OPC servers'
// ProgIDs, in the registry's order. The list is cleared first.
void GetOPCServers(std::vector<std::string>& list);
// 0 when either half of the FILETIME is 0 or the time cannot be converted.
TDateTime FileTimeToDateTime(FILETIME ft);
// "dd.mm.yyyy hh:nn:ss", the system's one layout for dates and times.
std::string DateTimeToText(TDateTime t);
// Clears the list, then adds each string the enumerator hands out, one at a time.
void EnumStringToList(platform::com::IEnumString* e, std::vector<std::string>& list);
// A new BSTR of the text (SysFreeString frees it).
platform::com::BSTR StringToBSTR(const std::string& text);
// "" for an empty value; an array as its elements each followed by ";"; a date in the
// system's layout; otherwise the value's text. "" when the value has none.
std::string VariantToString(const Variant& value);
// The registry form "{...}".
std::string GUIDToText(const platform::com::GUID& guid);
// The class of a ProgID, else of a class text in braces; false when it is neither.
bool ServerNameToCLSID(const std::string& text, CLSID& clsid);
// (quality & 0xC0) == 0xC0.
bool IsQualityGood(int32_t quality);
// CoInitializeSecurity without authentication, impersonation allowed; the result is ignored.
// It is only recorded: the transport's security is its TLS configuration.
void InitComSecurity();

// The numbers of the three OPC stream formats, registered once for the whole run.
platform::com::CLIPFORMAT FormatData();
platform::com::CLIPFORMAT FormatDataTime();
platform::com::CLIPFORMAT FormatWriteComplete();

// Connection-point advise of sink at source's point for iid; E_FAIL when source is null or
// lacks the container or the point.
HRESULT ConnectSink(const std::shared_ptr<platform::com::IUnknown>& source, const IID& iid,
                    const std::shared_ptr<platform::com::IUnknown>& sink, DWORD& cookie);
HRESULT DisconnectSink(const std::shared_ptr<platform::com::IUnknown>& source, const IID& iid, DWORD cookie);
// Data-object advise of one OPC stream format, by default the timed data stream, prime first.
// connection is 0 on failure.
HRESULT DataObjectAdvise(const std::shared_ptr<platform::com::IUnknown>& source,
                         const std::shared_ptr<platform::com::IAdviseSink>& sink, DWORD& connection,
                         platform::com::CLIPFORMAT format = FormatDataTime(),
                         DWORD advf = platform::com::ADVF_PRIMEFIRST);
HRESULT DataObjectUnadvise(const std::shared_ptr<platform::com::IUnknown>& source, DWORD connection);

}  // namespace kopl
