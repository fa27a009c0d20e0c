#include "platform/profile.h"

#include <unistd.h>

#include <optional>
#include <vector>

#include "platform/cp1252.h"
#include "platform/files.h"
#include "platform/replace_file.h"
#include "platform/text_lines.h"

namespace platform {

namespace {

struct Line {
  std::string text;    // without its line end
  std::string ending;  // "\r\n", "\n" or "" for a last line without one
};

std::string Trim(std::string_view s) {
  const char* blanks = " \t";
  auto first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(blanks) - first + 1));
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && UpperCase1252(a) == UpperCase1252(b);
}

std::vector<Line> ReadLines(const std::string& path, bool& readable) {
  std::vector<Line> lines;
  std::string all;
  readable = ReadRegularFile(path, all);
  if (!readable) return lines;
  size_t pos = 0;
  for (std::string_view text, ending; NextLine(all, pos, text, &ending);)
    lines.push_back({std::string(text), std::string(ending)});
  return lines;
}

// The section name of a header line, or nullopt when the line is none.
std::optional<std::string> SectionName(const std::string& text) {
  std::string t = Trim(text);
  if (t.empty() || t[0] != '[') return std::nullopt;
  auto close = t.find(']');
  return Trim(std::string_view(t).substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

// Key and value of an entry line; nullopt for blank lines, comments and lines without "=".
std::optional<std::pair<std::string, std::string>> Entry(const std::string& text) {
  std::string t = Trim(text);
  if (t.empty() || t[0] == ';') return std::nullopt;
  auto eq = t.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return std::make_pair(Trim(std::string_view(t).substr(0, eq)), Trim(std::string_view(t).substr(eq + 1)));
}

struct Place {
  std::optional<size_t> header;     // line of the first matching section header
  std::optional<size_t> key;        // line of the first matching key in it
  size_t lastEntry = 0;             // last non-blank line of the section
};

Place Find(const std::vector<Line>& lines, const std::string& section, const std::string& key) {
  Place place;
  for (size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionName(lines[i].text);
    if (!place.header) {
      if (name && EqualNoCase(*name, section)) place.header = place.lastEntry = i;
      continue;
    }
    if (name) break;
    if (!Trim(lines[i].text).empty()) place.lastEntry = i;
    auto entry = Entry(lines[i].text);
    if (entry && EqualNoCase(entry->first, key)) {
      place.key = i;
      break;
    }
  }
  return place;
}

bool Unwritable(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

}  // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& file, size_t maxChars) {
  bool readable = false;
  auto lines = ReadLines(ResolveNoCase(file), readable);
  std::string value = def;
  Place place = Find(lines, Trim(section), Trim(key));
  if (place.key) {
    value = Entry(lines[*place.key].text)->second;
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
      value = value.substr(1, value.size() - 2);
  }
  if (value.size() > maxChars) value.resize(maxChars);
  return value;
}

bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& file) {
  std::string s = Trim(section), k = Trim(key);
  if (s.empty() || k.empty() || Unwritable(s) || Unwritable(k) || Unwritable(value) ||
      s.find(']') != std::string::npos || k.find('=') != std::string::npos || k[0] == ';' || k[0] == '[')
    return false;
  std::string path = ResolveNoCase(file);
  bool readable = false;
  auto lines = ReadLines(path, readable);
  if (!readable && access(path.c_str(), F_OK) == 0) return false;  // never overwrite what we cannot read

  Place place = Find(lines, s, k);
  if (place.key) {
    std::string stored = Entry(lines[*place.key].text)->first;
    lines[*place.key].text = stored + "=" + value;
  } else if (place.header) {
    Line& after = lines[place.lastEntry];
    if (after.ending.empty()) after.ending = "\r\n";
    lines.insert(lines.begin() + std::ptrdiff_t(place.lastEntry + 1), Line{k + "=" + value, "\r\n"});
  } else {
    if (!lines.empty() && lines.back().ending.empty()) lines.back().ending = "\r\n";
    lines.push_back(Line{"[" + s + "]", "\r\n"});
    lines.push_back(Line{k + "=" + value, "\r\n"});
  }
  std::string bytes;
  for (const Line& line : lines) bytes += line.text + line.ending;
  return ReplaceFile(path, bytes) == 0;
}

}  // namespace platform
