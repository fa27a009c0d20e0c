#include "platform/com/hresult.h"

#include <cstdio>

namespace platform::com {

namespace {

struct CodeText {
  HRESULT code;
  const char* text;
};

constexpr CodeText kOpcTexts[] = {
    {OPC_S_UNSUPPORTEDRATE,
     "The server does not support the requested data rate\r\nbut will use the closest available rate."},
    {OPC_S_CLAMP, "A value passed to WRITE was accepted but the output was clamped."},
    {OPC_S_INUSE,
     "The operation cannot be completed because the\r\nobject still has references that exist."},
    {OPC_S_ALREADYACKED, "The condition has already been acknowleged"},
    {OPC_S_INVALIDBUFFERTIME, "The buffer time parameter was invalid"},
    {OPC_S_INVALIDMAXSIZE, "The max size parameter was invalid"},
    {OPC_E_INVALIDHANDLE, "The value of the handle is invalid."},
    {OPC_E_BADTYPE,
     "The server cannot convert the data between the\r\nrequested data type and the canonical data"},
    {OPC_E_PUBLIC, "The requested operation cannot be done on a public group."},
    {OPC_E_BADRIGHTS, "The Items AccessRights do not allow the operation."},
    {OPC_E_UNKNOWNITEMID, "The item is no longer available in the server address space."},
    {OPC_E_INVALIDITEMID, "The item definition doesn't conform to the server's syntax."},
    {OPC_E_INVALIDFILTER, "The filter string was not valid"},
    {OPC_E_UNKNOWNPATH, "The item's access path is not known to the server."},
    {OPC_E_RANGE, "The value was out of range."},
    {OPC_E_DUPLICATENAME, "Duplicate name not allowed."},
    {OPC_E_INVALIDCONFIGFILE, "The server's configuration file is an invalid format."},
    {OPC_E_NOTFOUND, "The server could not locate the requested object."},
    {OPC_E_INVALID_PID, "The server does not recognise the passed property ID."},
    {OPC_E_BUSY, "A refresh is currently in progress"},
    {OPC_E_REFRESHINPROGRESS, "A refresh is currently in progress"},
    {OPC_E_NOINFO, "Information is not available"},
};

constexpr CodeText kComTexts[] = {
    {S_OK, "The operation completed successfully."},
    {S_FALSE, "The operation completed with a false result."},
    {E_NOTIMPL, "Not implemented."},
    {E_NOINTERFACE, "No such interface supported."},
    {E_POINTER, "Invalid pointer."},
    {E_ABORT, "Operation aborted."},
    {E_FAIL, "Unspecified error."},
    {E_UNEXPECTED, "Catastrophic failure."},
    {E_ACCESSDENIED, "Access is denied."},
    {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_BADVARTYPE, "Bad variable type."},
    {DISP_E_OVERFLOW, "Out of present range."},
    {OLE_E_ADVISENOTSUPPORTED, "This implementation does not take advises."},
    {DV_E_FORMATETC, "Invalid data format."},
    {CONNECT_E_NOCONNECTION, "There is no connection for this connection ID."},
    {CONNECT_E_ADVISELIMIT, "This connection point has reached its limit of connections."},
    {CONNECT_E_CANNOTCONNECT, "The sink does not support the interface of this connection point."},
    {CLASS_E_CLASSNOTAVAILABLE, "The class is not available."},
    {REGDB_E_CLASSNOTREG, "Class not registered."},
    {CO_E_CLASSSTRING, "Invalid class string."},
    {CO_E_APPNOTFOUND, "The server program was not found."},
    {CO_E_SERVER_EXEC_FAILURE, "Server execution failed."},
    {RPC_E_DISCONNECTED, "The object invoked has disconnected from its clients."},
    {RPC_E_CALL_CANCELED, "The call was cancelled."},
    {RPC_E_TIMEOUT, "The server did not answer in time."},
    {RPC_E_TOO_LATE, "Call security was set up already and cannot change."},
    {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable."},
};

template <size_t N>
const char* Find(const CodeText (&table)[N], HRESULT hr) {
  for (const CodeText& row : table) {
    if (row.code == hr) return row.text;
  }
  return nullptr;
}

}  // namespace

std::string OpcErrorText(HRESULT hr) {
  const char* text = Find(kOpcTexts, hr);
  return text ? text : "";
}

std::string HResultText(HRESULT hr) {
  if (const char* text = Find(kOpcTexts, hr)) return text;
  if (const char* text = Find(kComTexts, hr)) return text;
  return "";
}

std::string HResultHex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
  return buf;
}

}  // namespace platform::com
