#include "server/driver/error_codes.h"

#include <optional>

#include "server/driver/utilities.h"
#include "support/ini_reader.h"
#include "support/log_text.h"

namespace driver {

namespace {

const char* BuiltInText(int32_t code) {
  switch (code) {
    case -3: return "INI_file: missiong or incorrect text in section %s at key %s !";
    case -4: return "Channel could not be created!";
    case -10: return "FML: general error creating FML,RS232!";
    case -11: return "FML: FML could not be created!";
    case -12: return "FML: error at appending station!";
    case -13: return "FML: configfile not found!";
    case -15: return "Too much float channels!";
    case -16: return "Unknown channeltyp in configfile!";
    case -20: return "NS: Error creating Item!";
    case -21: return "NS: Error at BuildChannels!";
    case -22: return "NS: Error at BuildProperty!";
    case -23: return "Name: Error at createNode ZFM handle!";
    case -24: return "Name: Error at createNode ZFM parameter!";
    case -25: return "Name: Error at createNode ZFM exception!";
    case -26: return "Name: Error at creating ZFM!";
    case -27: return "Error before creating names, Abbort!";
    case -30: return "Error creating RS232 port!";
    case -31: return "Error initialisation RS232 port!";
    case -32: return "No connection to RS232-port!";
    case -33: return "Open of RS232 port failed!";
    case -40: return "Modbus: Initialisierungsfehler!";
    case -41: return "MoP: Thread Initialisierungsfehler!";
    default: return "Unknown Error";
  }
}

// Fills "%s" placeholders in turn ("%%" is a percent sign); nullopt for any other directive
// or for more placeholders than arguments.
std::optional<std::string> FormatText(const std::string& format, const std::string (&args)[2]) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out += format[i];
      continue;
    }
    if (i + 1 >= format.size()) return std::nullopt;
    char d = format[++i];
    if (d == '%') {
      out += '%';
    } else if ((d == 's' || d == 'S') && next < 2) {
      out += args[next++];
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::string TranslatedText(int32_t code) {
  support::Set_INI_File(ServerDir + "CONFIG.CFG");
  support::Set_INI_Section("ALLGEMEIN");
  std::string language = support::Read_Parameter("SPRACHE");
  support::Set_INI_File(ServerDir + language);
  support::Set_INI_Section("OPC-SERVER");
  // Without a name the file would be the server folder itself, which no text comes from.
  std::string text = language.empty() ? std::string() : support::Read_Parameter("T" + std::to_string(code));
  for (size_t p; (p = text.find("#13")) != std::string::npos;) text.replace(p, 3, "\r");
  return text;
}

std::string MessageFor(int32_t code) {
  std::string message = GetErrorText(code);
  std::string item = FailItemName();
  if (!item.empty()) message += "\r" + item;
  return message;
}

}  // namespace

std::string GetErrorText(int32_t code) {
  std::string text = TranslatedText(code);
  if (text.empty()) text = BuiltInText(code);
  if (code == kErrIniText) {
    static const std::string args[2] = {"Zentralfunkmodem", "MODUS"};
    // A translation that does not format must not hide the configuration error behind a
    // formatting failure: the built-in text stands in for it.
    auto formatted = FormatText(text, args);
    text = formatted ? *formatted : *FormatText(BuiltInText(code), args);
  }
  return text + "\r(code=" + std::to_string(code) + ")";
}

std::string GetErrorMsg(int32_t code) {
  return "Err= -$" + support::Hex2(uint32_t(-int64_t(code)) & 0xFF) + "\rMsg= " + GetErrorText(code);
}

ECustomFunk::ECustomFunk(int32_t code) : std::runtime_error(MessageFor(code)), Code(code) {}

}  // namespace driver
