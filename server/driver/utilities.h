// Small shared pieces of the server's driver: the server folder from the registry, the trace
// file QAR_LOG.TXT, the locked log wrapper, the all-bits debug flag test, the telegrams'
// CRC-16 and the BCD and word conversions.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace driver {

inline constexpr const char* kServerClsid = "{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605}";
inline constexpr const char* kProgramName = "Velto_OPC-Server_V070226";

// Server folder with a trailing "/", or "" when the registry entry is missing. Set at
// start-up, read-only afterwards: the prefix of every file name of the server.
extern std::string& ServerDir;
// 0, or the error code that made the server unusable.
extern std::atomic<int32_t> FatalErrorCode;
// Name of the item or key whose handling failed (at most 255 characters).
std::string FailItemName();
void SetFailItemName(std::string_view name);

// FatalErrorCode := code. The first code of the run is kept beside it with the failing-item
// text of that moment: later steps record their own codes over it (a namespace build refused
// after a configuration error records -27), but the user is told about the cause.
void RecordFatalError(int32_t code);
struct TFatalError {
  int32_t Code = 0;  // 0: none recorded
  std::string Item;
};
TFatalError FirstFatalError();
// No fatal error, no failing item.
void ResetFatalError();

// The folder of the host program that the registry names for the server's class id.
std::string GetServerPath();
// One line of the trace file; hex writes each byte as two hex digits and a blank.
void WriteDebugLog(bool hex, std::string_view text);
// LogMessage under the log lock: every "FML:", "CF:", "NS:", "SOXpS" line goes through it.
void WriteLog(std::string_view text);
// Every bit of mask set in the debug flag word (TestDbgFlag needs any bit).
bool IsDbgFlag(int32_t mask);
inline int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }
uint16_t CalcCRC16(std::string_view bytes);
std::string WordToStr2(uint16_t w);  // high byte first
int32_t BCDToInt(int32_t v);

// Start-up and shutdown of the utilities unit (run by the server's unit sequence).
void StartUtilities();
void StopUtilities();

}  // namespace driver
