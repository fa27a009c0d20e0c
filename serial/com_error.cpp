#include "serial/com_error.h"

#include <iterator>

namespace serial {

namespace {
const char* const kTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set SyncMethod while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
};
}  // namespace

const char* ComErrorText(int32_t code) {
  if (code < 1 || code > int32_t(std::size(kTexts))) return "";
  return kTexts[code - 1];
}

EComPort::EComPort(int32_t code, int32_t osErrorCode, const std::string& message)
    : std::runtime_error(message), Code(code), OsErrorCode(osErrorCode) {}

EComPort::EComPort(int32_t code, int32_t osErrorCode)
    : EComPort(code, osErrorCode,
               std::string(ComErrorText(code)) + " (win error code: " + std::to_string(osErrorCode) + ")") {}

EComPort EComPort::CreateWithCode(int32_t code) { return EComPort(code, -1, ComErrorText(code)); }

}  // namespace serial
