// The one exception class of the serial port component: a fixed error number (1..22) with its
// English text, and the operating system's error code of the failing call (-1 when none).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace serial {

// Error numbers of EComPort.
enum TComPortError : int32_t {
  CError_OpenFailed = 1,
  CError_WriteFailed = 2,
  CError_ReadFailed = 3,
  CError_InvalidAsync = 4,
  CError_PurgeFailed = 5,
  CError_AsyncCheck = 6,
  CError_SetStateFailed = 7,
  CError_TimeoutsFailed = 8,
  CError_SetupComFailed = 9,
  CError_ClearComFailed = 10,
  CError_ModemStatFailed = 11,
  CError_EscapeComFailed = 12,
  CError_TransmitFailed = 13,
  CError_SyncMeth = 14,
  CError_EnumPortsFailed = 15,
  CError_StoreFailed = 16,
  CError_LoadFailed = 17,
  CError_RegFailed = 18,
  CError_LedStateFailed = 19,
  CError_ThreadCreated = 20,
  CError_WaitFailed = 21,
  CError_HasLink = 22,
};

// The text of an error number; "" outside 1..22.
const char* ComErrorText(int32_t code);

class EComPort : public std::runtime_error {
 public:
  // Message: the code's text followed by " (win error code: N)" with N = osErrorCode.
  EComPort(int32_t code, int32_t osErrorCode);
  // OsErrorCode -1, message: the code's text alone.
  static EComPort CreateWithCode(int32_t code);

  int32_t Code;
  int32_t OsErrorCode;

 private:
  EComPort(int32_t code, int32_t osErrorCode, const std::string& message);
};

}  // namespace serial
