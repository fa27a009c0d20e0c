// HRESULT: the 32-bit result of every COM and OPC call. Bit 31 set means failure; success
// codes other than S_OK (S_FALSE, the OPC_S_ codes) carry extra information.
#pragma once

#include <cstdint>
#include <string>

namespace platform::com {

using HRESULT = int32_t;
using SCODE = int32_t;

constexpr HRESULT MakeHResult(uint32_t bits) { return static_cast<HRESULT>(bits); }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// COM and OLE Automation.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHResult(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000A);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = MakeHResult(0x80040003);
inline constexpr HRESULT DV_E_FORMATETC = MakeHResult(0x80040064);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = MakeHResult(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = MakeHResult(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = MakeHResult(0x80040202);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3);
inline constexpr HRESULT CO_E_APPNOTFOUND = MakeHResult(0x800401F5);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = MakeHResult(0x80080005);
// The server went away: the connection is gone, no call reaches it any more.
inline constexpr HRESULT RPC_E_DISCONNECTED = MakeHResult(0x80010108);
// The client of a call has gone (it cancelled, its deadline passed or its connection broke).
inline constexpr HRESULT RPC_E_CALL_CANCELED = MakeHResult(0x80010002);
// The server did not answer a call in time.
inline constexpr HRESULT RPC_E_TIMEOUT = MakeHResult(0x8001011F);
// Process-wide security was set already.
inline constexpr HRESULT RPC_E_TOO_LATE = MakeHResult(0x80010119);
// A computer that cannot be reached.
inline constexpr HRESULT RPC_S_SERVER_UNAVAILABLE = MakeHResult(0x800706BA);

// OPC DA and OPC Common.
inline constexpr HRESULT OPC_S_UNSUPPORTEDRATE = MakeHResult(0x0004000D);
inline constexpr HRESULT OPC_S_CLAMP = MakeHResult(0x0004000E);
inline constexpr HRESULT OPC_S_INUSE = MakeHResult(0x0004000F);
inline constexpr HRESULT OPC_S_ALREADYACKED = MakeHResult(0x00040200);
inline constexpr HRESULT OPC_S_INVALIDBUFFERTIME = MakeHResult(0x00040201);
inline constexpr HRESULT OPC_S_INVALIDMAXSIZE = MakeHResult(0x00040202);
inline constexpr HRESULT OPC_E_INVALIDHANDLE = MakeHResult(0xC0040001);
inline constexpr HRESULT OPC_E_BADTYPE = MakeHResult(0xC0040004);
inline constexpr HRESULT OPC_E_PUBLIC = MakeHResult(0xC0040005);
inline constexpr HRESULT OPC_E_BADRIGHTS = MakeHResult(0xC0040006);
inline constexpr HRESULT OPC_E_UNKNOWNITEMID = MakeHResult(0xC0040007);
inline constexpr HRESULT OPC_E_INVALIDITEMID = MakeHResult(0xC0040008);
inline constexpr HRESULT OPC_E_INVALIDFILTER = MakeHResult(0xC0040009);
inline constexpr HRESULT OPC_E_UNKNOWNPATH = MakeHResult(0xC004000A);
inline constexpr HRESULT OPC_E_RANGE = MakeHResult(0xC004000B);
inline constexpr HRESULT OPC_E_DUPLICATENAME = MakeHResult(0xC004000C);
inline constexpr HRESULT OPC_E_INVALIDCONFIGFILE = MakeHResult(0xC0040010);
inline constexpr HRESULT OPC_E_NOTFOUND = MakeHResult(0xC0040011);
inline constexpr HRESULT OPC_E_INVALID_PID = MakeHResult(0xC0040203);
inline constexpr HRESULT OPC_E_BUSY = MakeHResult(0xC0040204);
inline constexpr HRESULT OPC_E_REFRESHINPROGRESS = MakeHResult(0xC0040205);
inline constexpr HRESULT OPC_E_NOINFO = MakeHResult(0xC0040206);

// The English text of an OPC code (the OPC_S_ and OPC_E_ codes above), "" for any other.
std::string OpcErrorText(HRESULT hr);
// The text of any code above (OPC codes as OpcErrorText); "" for a code this layer does not know.
std::string HResultText(HRESULT hr);
// "0x" and eight upper-case hexadecimal digits, for logs and error messages.
std::string HResultHex(HRESULT hr);

}  // namespace platform::com
