// The inspector's text protocol: the rows of the shown group, one line each, in a
// semicolon-separated file named after the moment it was written.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "explorer/item_texts.h"
#include "opcclient/kopl_routines.h"

namespace explorer {

// A file that could not be created or written.
class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "OPC_" + date and time in the system's layout with ":" as "-" and "." as "_" + ".csv",
// e.g. "OPC_08_12_2026 14-03-07.csv".
std::string ProtocolFileName(kopl::TDateTime now);
// Item ID, value, quality and time of each row, ";"-separated, each line ended by CR LF; no
// header, no quoting.
std::string ProtocolText(const std::vector<const TItemRowTexts*>& rows);
// Creates or overwrites the file. EInOutError when it cannot be created or written.
void WriteProtocolFile(const std::string& path, const std::string& text);

}  // namespace explorer
