#include "visualisation/global.h"

#include <clocale>
#include <cmath>
#include <cstdio>

#include "opcclient/kopl_routines.h"
#include "support/error_log.h"

namespace lumaro {

namespace com = platform::com;

NumberFormat SystemNumberFormat() {
  NumberFormat f;
  const lconv* lc = std::localeconv();
  if (lc && lc->decimal_point && lc->decimal_point[0] && !lc->decimal_point[1]) f.decimal = lc->decimal_point[0];
  f.list_separator = f.decimal == ',' ? ';' : ',';
  return f;
}

std::string ModemStatusText(int64_t value) {
  switch (value) {
    case 1:
      return "Ok";
    case -1:
      return "Keine Verbindung";
    case -2:
      return "Keine SRN";
    case -3:
      return "Interner Fehler";
    case -4:
      return "Simulationsmodus";
    default:
      return "unbekannt";
  }
}

std::string DcfStateText(int64_t value) {
  switch (value) {
    case 0:
      return "Sucht";
    case 1:
      return "Initialisiert";
    case 2:
      return "Ok";
    case 3:
      return "Asynchron";
    default:
      return "unbekannt";
  }
}

std::string ServerStatusText(bool connected, int32_t state) {
  if (!connected) return "nicht verbunden";
  switch (state) {
    case 1:
      return "verbunden";
    case 2:
      return "nicht verbunden";
    case 3:
      return "nicht konfiguriert";
    case 4:
      return "unterbrochen";
    case 5:
      return "Testmodus";
    default:
      return "unbekannt";
  }
}

std::vector<std::string> AllServerStatusTexts() {
  std::vector<std::string> texts;
  // State 0 stands for every state the table does not know ("unbekannt").
  for (int32_t state = 0; state <= 5; ++state) texts.push_back(ServerStatusText(true, state));
  return texts;
}

std::string ActiveStateText(bool active) { return active ? "Aktiv" : "Inaktiv"; }

std::string ConnectionStateText(bool connected) { return connected ? "verbunden" : "nicht verbunden"; }

void ShowError(const Context& context, const std::string& text) {
  support::LogMessage(text);
  if (context.messages) context.messages->Show(platform::MessageKind::Error, text, platform::MessageButtons::Ok);
}

std::string NoConnectionText(const std::string& server_name) {
  if (server_name.empty()) return "Es kann keine Verbindung zum OPC-Server hergestellt werden!";
  return "Es kann keine Verbindung zum OPC-Server \"" + server_name + "\" hergestellt werden!";
}

std::string ValueText(const com::Variant& value, const NumberFormat& format) {
  std::string text = kopl::VariantToString(value);
  const com::VARTYPE vt = value.vt();
  if ((vt == com::VT_R4 || vt == com::VT_R8 || vt == com::VT_CY) && format.decimal != '.') {
    for (char& c : text) {
      if (c == '.') c = format.decimal;
    }
  }
  return text;
}

bool ValueAsDouble(const com::Variant& value, double& out) {
  com::Variant r;
  if (com::FAILED(com::VariantChangeType(&r, value, 0, com::VT_R8))) return false;
  out = r.Real();
  return true;
}

bool ValueAsInt(const com::Variant& value, int64_t& out) {
  com::Variant r;
  if (com::FAILED(com::VariantChangeType(&r, value, 0, com::VT_I8))) return false;
  out = r.Int();
  return true;
}

std::string FormatDecimals(double value, int32_t decimals, const NumberFormat& format) {
  if (decimals < 0) decimals = 0;
  if (decimals > 15) decimals = 15;
  char buf[400];
  std::snprintf(buf, sizeof buf, "%1.*f", int(decimals), value);
  std::string text = buf;
  // Whatever the C locale says, the point becomes the user's decimal point.
  for (char& c : text) {
    if (c == '.' || c == ',') c = format.decimal;
  }
  return text;
}

}  // namespace lumaro
