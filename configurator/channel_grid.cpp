#include "configurator/channel_grid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "configurator/language.h"
#include "configurator/project.h"
#include "platform/cp1252.h"
#include "platform/text_format.h"

namespace configurator {

namespace {

constexpr int kPrecision = 15;

// Characters a channel name must not hold: they would split the name in the project file or
// in the server's item ids ("-" is listed twice in the system's own table).
constexpr char kForbiddenInName[] = ".,;:-!?*+-#<>|\xA7$%&/\\()[]{}\xDF^\xB0";
// A unit is a field of the channel line too: the readers split at "," and cut at ";".
constexpr char kForbiddenInUnit[] = ",;";

// The ranges in which the project reader takes a channel's numbers back.
constexpr double kRealLimit = 999999;
constexpr int32_t kMaxDecimals = 10;

std::string Trimmed(const std::string& text) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = text.find_last_not_of(" \t");
  return text.substr(b, e - b + 1);
}

// from_chars takes no "+": one in front goes, and no second sign may follow it.
bool StripPlus(std::string& t) {
  if (!t.empty() && t[0] == '+') {
    t.erase(0, 1);
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) return false;
  }
  return !t.empty();
}

}  // namespace

std::string GeneralText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  char buf[64];
  auto end = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, kPrecision - 1).ptr;
  std::string s(buf, end);  // d.ddddddddddddddde-XX
  size_t e = s.find('e');
  int exponent = std::atoi(s.c_str() + e + 1);
  std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int point = exponent + 1;  // digits before the decimal point
  std::string out = value < 0 ? "-" : "";
  if (point > kPrecision || point < -3) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "E" + std::string(exponent < 0 ? "-" : "") + std::to_string(std::abs(exponent));
  } else if (point <= 0) {
    out += "0." + std::string(size_t(-point), '0') + digits;
  } else if (int(digits.size()) <= point) {
    out += digits + std::string(size_t(point) - digits.size(), '0');
  } else {
    out += digits.substr(0, size_t(point)) + "." + digits.substr(size_t(point));
  }
  return out;
}

std::optional<double> ParseReal(const std::string& text) {
  std::string t = Trimmed(text);
  if (!StripPlus(t)) return std::nullopt;
  size_t comma = t.find(',');
  if (comma != std::string::npos) {
    if (t.find('.') != std::string::npos || t.find(',', comma + 1) != std::string::npos) return std::nullopt;
    t[comma] = '.';
  }
  double v = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || ptr != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int32_t> ParseInteger(const std::string& text) {
  std::string t = Trimmed(text);
  if (!StripPlus(t)) return std::nullopt;
  int32_t v = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || ptr != t.data() + t.size()) return std::nullopt;
  return v;
}

std::array<int, 6> ChannelColumnWidths(int clientWidth, const std::array<int, 6>& least) {
  std::array<int, 6> w{64, 120, 64, 64, 64, 64};
  int others = 0, widened = 0;
  for (size_t c = 0; c < w.size(); ++c) {
    if (c == 1) continue;
    widened += std::max(0, least[c] - w[c]);
    others += w[c] = std::max(w[c], least[c]);
  }
  // What the other columns grew by comes off the name column first.
  w[1] = std::max({least[1], w[1] - widened, clientWidth - others});
  return w;
}

std::vector<std::string> ChannelLabels(const std::vector<TWert>& channels, const TChannelLabelFormats& formats) {
  std::vector<std::string> labels;
  int number = 0;
  for (size_t i = 0; i < channels.size(); ++i) {
    const std::string& kind = channels[i].Kind;
    number = i > 0 && channels[i - 1].Kind == kind ? number + 1 : 1;
    const std::string* format = kind == "AA"   ? &formats.AA
                                : kind == "AE" ? &formats.AE
                                : kind == "BA" ? &formats.BA
                                : kind == "BE" ? &formats.BE
                                               : nullptr;
    labels.push_back(format ? platform::FormatText(*format, {number}) : std::string());
  }
  return labels;
}

void TChannelGrid::SetHeaders(const std::array<std::string, kColumns>& headers) {
  headers_ = headers;
  cells_[0] = headers;
  ++Revision;
}

std::string TChannelGrid::ValueText(const TWert& channel, int col) {
  switch (col) {
    case colName: return channel.Name;
    case colUnit: return channel.Einheit;
    case colFactor: return GeneralText(channel.Faktor);
    case colOffset: return GeneralText(channel.Offset);
    case colDecimals: return std::to_string(channel.NKs);
    default: return {};
  }
}

void TChannelGrid::Fill(const TFuMo& station) {
  cells_.assign(1 + station.Channels.size(), {});
  cells_[0] = headers_;
  uncodable_ = {};
  std::vector<std::string> labels = ChannelLabels(station.Channels, LabelFormats);
  for (size_t i = 0; i < station.Channels.size(); ++i) {
    auto& row = cells_[i + 1];
    row[colLabel] = labels[i];
    for (int c = colName; c < kColumns; ++c) row[size_t(c)] = ValueText(station.Channels[i], c);
  }
  ++Revision;
}

void TChannelGrid::SetCellText(int col, int row, const std::string& text) {
  if (row < 1 || row >= RowCount() || col < colName || col >= kColumns) return;
  cells_[size_t(row)][size_t(col)] = text;
  if (uncodable_.col == col && uncodable_.row == row) uncodable_ = {};
}

void TChannelGrid::SetCellText(int col, int row, std::u16string_view typed) {
  SetCellText(col, row, platform::Utf16ToCp1252(typed));
  const char32_t c = FirstUncodable(typed);
  if (c != 0 && row >= 1 && row < RowCount() && col >= colName && col < kColumns) uncodable_ = {col, row, c};
}

TFuMo* TChannelGrid::CurrentStation() const {
  return project_.CurrentNode ? project_.CurrentNode->Station() : nullptr;
}

bool TChannelGrid::SelectCell(int col, int row) {
  if (!CommitChannelCell(Col, Row)) return false;
  Col = col;
  Row = row;
  return true;
}

void TChannelGrid::Exit() {
  TFuMo* station = CurrentStation();
  if (!station || CommitChannelCell(Col, Row)) return;
  // The stored value of the refused cell comes back (of its own column, not the name).
  RevertCell(Col, Row);
}

void TChannelGrid::RevertCell(int col, int row) {
  TFuMo* station = CurrentStation();
  if (!station || row < 1 || size_t(row) > station->Channels.size() || row >= RowCount() || col < colName ||
      col >= kColumns)
    return;
  SetCellText(col, row, ValueText(station->Channels[size_t(row) - 1], col));
  ++Revision;
}

bool TChannelGrid::Refuse(int message, const std::string& extra) {
  messages_.ShowErrorMsg(message, extra);
  return false;
}

bool TChannelGrid::CommitChannelCell(int col, int row) {
  if (row < 1 || row >= RowCount() || col < colName || col >= kColumns) return true;
  TFuMo* station = CurrentStation();
  if (!station) return true;
  const std::string text = Cell(col, row);
  if (uncodable_.c != 0 && uncodable_.col == col && uncodable_.row == row) {
    messages_.ShowUncodable(uncodable_.c);
    return false;
  }
  if (col == colName && !text.empty()) {
    if (text.find_first_of(kForbiddenInName) != std::string::npos) return Refuse(7);
    if (station->ChannelNameUsed(text, row)) return Refuse(12, text);
  }
  if (col == colUnit && text.find_first_of(kForbiddenInUnit) != std::string::npos) return Refuse(msgUnitCharacter);
  if (station->Address <= 0 || size_t(row) > station->Channels.size()) return true;

  TWert& channel = station->Channels[size_t(row) - 1];
  const TWert before = channel;
  switch (col) {
    case colName: channel.Name = text; break;
    case colUnit: channel.Einheit = text; break;
    case colFactor:
    case colOffset: {
      std::optional<double> v = ParseReal(text);
      if (!v) return Refuse(msgNoNumber, text);
      if (std::fabs(*v) > kRealLimit) return Refuse(msgOutOfRange, text + " (-999999..999999)");
      (col == colFactor ? channel.Faktor : channel.Offset) = *v;
      break;
    }
    case colDecimals: {
      std::optional<int32_t> v = ParseInteger(text);
      if (!v) return Refuse(msgNoInteger, text);
      if (*v < 0 || *v > kMaxDecimals) return Refuse(msgOutOfRange, text + " (0.." + std::to_string(kMaxDecimals) + ")");
      channel.NKs = *v;
      break;
    }
  }
  ++Revision;
  if (channel != before) project_.Modified = true;
  return true;
}

}  // namespace configurator
