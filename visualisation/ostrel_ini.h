// The server's configuration file as the visualisation client reads it: the whole file in
// memory by section and key, read-only, and the fields of its central-modem, station and
// channel lines.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lumaro {

// One content line of a section: "key=value" with the blanks around both dropped; a line
// without "=" has its whole text as key and an empty value.
struct IniLine {
  std::string key;
  std::string value;
};

// A file of "[section]" headers and key lines, held whole in memory. Section and key names
// match ignoring case; blank lines and lines that begin with ";" are not content. Texts are the
// file's Windows-1252 bytes.
class TMemIni {
 public:
  TMemIni() = default;
  // Reads the file (its name found whatever its case); false when it cannot be read, and the
  // object is then empty.
  bool LoadFromFile(const std::string& path);
  void LoadFromText(const std::string& text);

  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // The first line of that key in the section; def when there is none.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def = "") const;
  // The content lines of the section in file order (empty when there is no such section).
  const std::vector<IniLine>& SectionLines(const std::string& section) const;

 private:
  struct Section {
    std::string name;
    std::vector<IniLine> lines;
  };
  const Section* Find(const std::string& section) const;
  std::vector<Section> sections_;
};

// Cuts a line's value into comma-separated fields. Every field keeps its place, so an empty
// field ("BE,Taster,,1,0,0") is an empty text, not the next field moved up. Blanks around a
// field are dropped; a field that begins with a single or double quote runs to the matching
// quote, commas included, and loses the quotes.
std::vector<std::string> SplitFields(const std::string& value);

// The central modem's TYP line: name, type text.
struct ZentraleLine {
  std::string name;
  std::string type_name;
};
ZentraleLine ParseZentrale(const std::string& value);

// A station line of [UNTERSTATIONEN]: name, type name, address (field 3, decimal).
struct StationLine {
  std::string name;
  std::string type_name;
  int32_t address = 0;
};
// Throws BadIniLine when the address is not a decimal integer.
StationLine ParseStationLine(const std::string& value);

// A channel line of a station's address section.
struct ChannelLine {
  std::string kind;  // "AE", "BE", "BA", ...
  std::string name;
  std::string unit;     // "%" when the file has none
  double factor = 1.0;  // 1 when the file has 0 or no number
  double offset = 0.0;  // 0 when the file has no number
  int32_t decimals = 0;
};
// The name is the server's item name: a leading "&" (writable mark) is dropped. nullopt for a
// line whose name is empty or "#" (the server has no item for it, so it makes no channel).
// Throws BadIniLine when the decimals are not an integer.
std::optional<ChannelLine> ParseChannelLine(const std::string& value);

// "ADR" + the address with at least three digits ("ADR007", "ADR123").
std::string ChannelSectionName(int32_t address);

class BadIniLine : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A decimal integer with optional sign and blanks around it, nothing else; false otherwise.
bool ParseDecimal(const std::string& text, int32_t& out);
// A number with "." as decimal point (plain or scientific), blanks around allowed.
bool ParseReal(const std::string& text, double& out);

}  // namespace lumaro
