#include "visualisation/ostrel_ini.h"

#include <charconv>
#include <cmath>

#include "platform/cp1252.h"
#include "platform/files.h"
#include "platform/text_format.h"
#include "platform/text_lines.h"

namespace lumaro {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  return platform::UpperCase1252(a) == platform::UpperCase1252(b);
}

}  // namespace

bool TMemIni::LoadFromFile(const std::string& path) {
  sections_.clear();
  const std::string found = platform::FindFileNoCase(path);
  if (found.empty()) return false;
  std::string text;
  if (!platform::ReadRegularFile(found, text)) return false;
  LoadFromText(text);
  return true;
}

void TMemIni::LoadFromText(const std::string& text) {
  sections_.clear();
  Section* current = nullptr;
  size_t pos = 0;
  for (std::string_view raw; platform::NextLine(text, pos, raw);) {
    // As the server reads it: a NUL ends the line's text.
    std::string line = Trim(std::string(raw.substr(0, raw.find('\0'))));
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      std::string name = Trim(line.substr(1, line.size() - 2));
      current = nullptr;
      for (Section& s : sections_) {
        if (SameName(s.name, name)) current = &s;  // a repeated header continues its section
      }
      if (!current) {
        sections_.push_back({name, {}});
        current = &sections_.back();
      }
      continue;
    }
    if (!current) continue;  // lines before the first header belong to no section
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      current->lines.push_back({line, ""});
    } else {
      current->lines.push_back({Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))});
    }
  }
}

const TMemIni::Section* TMemIni::Find(const std::string& section) const {
  for (const Section& s : sections_) {
    if (SameName(s.name, section)) return &s;
  }
  return nullptr;
}

bool TMemIni::SectionExists(const std::string& section) const { return Find(section) != nullptr; }

bool TMemIni::ValueExists(const std::string& section, const std::string& key) const {
  const Section* s = Find(section);
  if (!s) return false;
  for (const IniLine& l : s->lines) {
    if (SameName(l.key, key)) return true;
  }
  return false;
}

std::string TMemIni::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  const Section* s = Find(section);
  if (!s) return def;
  for (const IniLine& l : s->lines) {
    if (SameName(l.key, key)) return l.value;
  }
  return def;
}

const std::vector<IniLine>& TMemIni::SectionLines(const std::string& section) const {
  static const std::vector<IniLine> kNone;
  const Section* s = Find(section);
  return s ? s->lines : kNone;
}

std::vector<std::string> SplitFields(const std::string& value) {
  std::vector<std::string> fields;
  size_t i = 0;
  const size_t n = value.size();
  while (true) {
    while (i < n && value[i] == ' ') ++i;
    std::string field;
    if (i < n && (value[i] == '"' || value[i] == '\'')) {
      const char quote = value[i++];
      size_t close = value.find(quote, i);
      if (close == std::string::npos) close = n;
      field = value.substr(i, close - i);
      i = close < n ? close + 1 : n;
    }
    size_t comma = value.find(',', i);
    if (comma == std::string::npos) comma = n;
    field += value.substr(i, comma - i);
    fields.push_back(Trim(field));
    if (comma >= n) break;
    i = comma + 1;
  }
  return fields;
}

namespace {

std::string FieldAt(const std::vector<std::string>& fields, size_t i) { return i < fields.size() ? fields[i] : ""; }

}  // namespace

ZentraleLine ParseZentrale(const std::string& value) {
  const auto f = SplitFields(value);
  return {FieldAt(f, 0), FieldAt(f, 1)};
}

StationLine ParseStationLine(const std::string& value) {
  const auto f = SplitFields(value);
  StationLine s;
  s.name = FieldAt(f, 0);
  s.type_name = FieldAt(f, 1);
  if (!ParseDecimal(FieldAt(f, 3), s.address))
    throw BadIniLine("Die Stationsadresse \"" + FieldAt(f, 3) + "\" der Station \"" + s.name + "\" ist keine Zahl!");
  return s;
}

std::optional<ChannelLine> ParseChannelLine(const std::string& value) {
  const auto f = SplitFields(value);
  ChannelLine c;
  c.kind = FieldAt(f, 0);
  c.name = FieldAt(f, 1);
  // The server publishes "&Name" as item "Name" and "#" as no item at all.
  if (!c.name.empty() && c.name[0] == '&') c.name.erase(0, 1);
  if (c.name.empty() || c.name == "#") return std::nullopt;
  c.unit = FieldAt(f, 2);
  if (c.unit.empty()) c.unit = "%";
  if (!ParseReal(FieldAt(f, 3), c.factor) || c.factor == 0) c.factor = 1.0;
  if (!ParseReal(FieldAt(f, 4), c.offset)) c.offset = 0.0;
  if (!ParseDecimal(FieldAt(f, 5), c.decimals)) throw BadIniLine("decimals of " + c.name);
  return c;
}

std::string ChannelSectionName(int32_t address) { return platform::FormatText("ADR%3.3d", {address}); }

namespace {

// The whole text (blanks around it dropped, one "+" allowed in front) as a number.
template <class T, class... Format>
bool ParseNumber(const std::string& text, T& out, Format... format) {
  const std::string t = Trim(text);
  const char* b = t.data();
  const char* e = b + t.size();
  if (b != e && *b == '+' && ++b != e && *b == '-') return false;
  if (b == e) return false;
  T v{};
  auto r = std::from_chars(b, e, v, format...);
  if (r.ec != std::errc() || r.ptr != e) return false;
  out = v;
  return true;
}

}  // namespace

bool ParseDecimal(const std::string& text, int32_t& out) { return ParseNumber(text, out); }

bool ParseReal(const std::string& text, double& out) {
  double v = 0;
  if (!ParseNumber(text, v, std::chars_format::general) || !std::isfinite(v)) return false;
  out = v;
  return true;
}

}  // namespace lumaro
