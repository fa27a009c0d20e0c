// The text of a project file, which is also the server's Ostrel.INI: CR LF lines, Windows-1252,
// reals with "." whatever the locale.
#pragma once

#include <string>

namespace configurator {

class TStationTree;

// A whole number in plain decimal ("0", "1", "-250"), any other value in the 23-character
// scientific form: sign place (blank or "-"), a digit, ".", 14 digits, "E", sign, 4 digits.
// Throws std::domain_error for infinities and NaN, which no reader could take back.
std::string RealText(double value);

// The file's bytes for the tree. Each station's Parent1 and Parent2 are set from its place in
// the tree on the way. The tree must have its central modem at the root.
std::string ProjectText(TStationTree& tree);

}  // namespace configurator
