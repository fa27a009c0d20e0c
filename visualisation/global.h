// What the parts of the visualisation client share: the program's surroundings (message boxes,
// clock, callback loop, folders, number format), the state texts of the central modem and the
// server, the error reports and the text of an item value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/com/apartment.h"
#include "platform/com/variant.h"
#include "platform/message_service.h"

namespace lumaro {

// How numbers are written for the user: the locale's decimal point, and its list separator
// (";" where the decimal point is ",", else ",").
struct NumberFormat {
  char decimal = '.';
  char list_separator = ',';
};
// The format of the process's numeric locale as it stands when called.
NumberFormat SystemNumberFormat();

// The program's surroundings, given to every part; tests give their own.
struct Context {
  platform::MessageService* messages = nullptr;
  platform::Clock* clock = nullptr;
  platform::com::Apartment* apartment = nullptr;
  std::string program_dir;  // with a trailing "/": Ostrel.INI, pictures, the log folder
  std::string current_dir;  // with a trailing "/": the marker file "datenloggen"
  NumberFormat format;

  platform::Clock& Clock() const { return clock ? *clock : platform::DefaultClock(); }
  platform::com::Apartment& Apartment() const { return apartment ? *apartment : platform::com::MainApartment(); }
  // Program folder + "Log/".
  std::string LogDir() const { return program_dir + "Log/"; }
};

// The version the main window shows.
inline constexpr const char* kVersionText = "V 061121";
// The radio-modem server's version-independent ProgID.
inline constexpr const char* kServerProgId = "Qar.OPC_DA_Server_RM";

// Value of the central modem's RS_STATUS.
std::string ModemStatusText(int64_t value);
// Value of RS_DCF_TIME.
std::string DcfStateText(int64_t value);
// OPC server state of the status query; "nicht verbunden" while not connected.
std::string ServerStatusText(bool connected, int32_t state);
// Every text ServerStatusText gives.
std::vector<std::string> AllServerStatusTexts();
// A window's working state: "Aktiv" or "Inaktiv".
std::string ActiveStateText(bool active);
// A station window's connection: "verbunden" or "nicht verbunden".
std::string ConnectionStateText(bool connected);

// Writes the text to the error log (when it is on) and shows it in an error box with OK.
void ShowError(const Context& context, const std::string& text);

// "Es kann keine Verbindung zum OPC-Server "<name>" hergestellt werden!", without the quotes
// part when the name is empty.
std::string NoConnectionText(const std::string& server_name);

// An item value as the user reads it: "" when empty, reals with the locale's decimal point.
std::string ValueText(const platform::com::Variant& value, const NumberFormat& format);
// The value as a number; false when it has none (text that is no number, an array).
bool ValueAsDouble(const platform::com::Variant& value, double& out);
// The value as an integer (rounded as the automation conversion rounds); false when none.
bool ValueAsInt(const platform::com::Variant& value, int64_t& out);
// "%1.*f" of the value with the locale's decimal point; decimals limited to 0..15.
std::string FormatDecimals(double value, int32_t decimals, const NumberFormat& format);

}  // namespace lumaro
