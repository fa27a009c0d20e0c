// Every failure of the server is named by a negative error code with an English text, which
// the language file that CONFIG.CFG names may translate; the driver's units raise them as
// ECustomFunk descendants, one class per raising unit.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace driver {

enum ErrorCode : int32_t {
  kErrReadLine = -2,           // exception while reading a configuration line
  kErrIniText = -3,            // MODUS missing or invalid
  kErrChannelNotCreated = -4,
  kErrFmlGeneral = -10,
  kErrFmlNotCreated = -11,
  kErrAppendStation = -12,
  kErrConfigNotFound = -13,
  kErrStationNotCreated = -14,
  kErrTooManyFloats = -15,
  kErrUnknownChannelType = -16,
  kErrNsItem = -20,
  kErrNsChannels = -21,
  kErrNsProperty = -22,
  kErrNsZfmHandle = -23,
  kErrNsZfmParameter = -24,
  kErrNsZfmException = -25,
  kErrNsZfm = -26,
  kErrNsAfterFatal = -27,
  kErrRs232Create = -30,
  kErrRs232Init = -31,
  kErrRs232NoConnection = -32,
  kErrRs232Open = -33,
  kErrModbusInit = -40,
  kErrMopThreadInit = -41,
};

// The text of a code, translated when the language file has one, ending in CR "(code=N)".
std::string GetErrorText(int32_t code);
// "Err= -$" + two hex digits of the negated code + CR + "Msg= " + GetErrorText(code).
std::string GetErrorMsg(int32_t code);

class ECustomFunk : public std::runtime_error {
 public:
  // The message is GetErrorText(code), followed by CR and FailItemName when one is set.
  explicit ECustomFunk(int32_t code);
  int32_t Code;
};

class EFML : public ECustomFunk {  // configuration loading
 public:
  using ECustomFunk::ECustomFunk;
};
class EModbus : public ECustomFunk {  // passive driver thread
 public:
  using ECustomFunk::ECustomFunk;
};
class E3964R : public ECustomFunk {  // time-slot driver thread
 public:
  using ECustomFunk::ECustomFunk;
};
class ENamespace : public ECustomFunk {  // namespace build
 public:
  using ECustomFunk::ECustomFunk;
};

}  // namespace driver
