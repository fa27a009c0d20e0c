#include "server/opc/debug_window/debug_texts.h"

#include <algorithm>

#include "support/log_text.h"

namespace opc {

namespace {

using support::BoolToText;
using support::IntStr;

// The label, then every entry followed by a tab.
template <class T, size_t N, class F>
std::string Row(const std::string& label, const std::array<T, N>& values, size_t from, F text) {
  std::string line = label;
  for (size_t i = from; i < N; ++i) line += text(values[i]) + "\t";
  return line;
}

std::vector<std::string> ZfmLines(const driver::TFunkView& f) {
  std::string request = "AF=" + IntStr(f.AF) + ": ";
  if (f.AF == driver::kAfStation)
    request += "US=" + IntStr(f.US) + " Put:" + IntStr(f.PutKl) + ":" + IntStr(f.PutStart) + "/" + IntStr(f.PutAnz) +
               " Get:" + IntStr(f.GetKl) + ":" + IntStr(f.GetStart) + "/" + IntStr(f.GetAnz);
  return {"ZS=" + IntStr(f.ZS) + " AktFM=" + IntStr(f.AktFM) + " 3964r=" + BoolToText(f.Is3964r) +
              " DOfs=" + IntStr(f.DOfs),
          request, "   TOindex=" + IntStr(f.TOindex) + " TO=" + IntStr(f.TO)};
}

std::vector<std::string> FmLines(const TDebugStation& st) {
  auto name = [](const char* n) { return std::string(n); };
  auto flag = [](bool b) { return BoolToText(b); };
  auto number = [](int32_t v) { return IntStr(v); };
  return {Row("Gruppe: ", kRequestClassNames, 1, name),
          Row("bDoneRd ", st.bDoneRd, 1, flag),
          Row("iWantRd ", st.iWantRd, 1, number),
          Row("bWantWr ", st.bWantWr, 1, flag),
          "",
          Row("TO-Typ: ", kTimeoutTypeNames, 0, name),
          Row("RegCnt: ", st.Timeouts.RegCnt, 0, number),
          Row("Timeout:", st.Timeouts.Timeout, 0, number)};
}

}  // namespace

TDebugTexts RefreshTexts(const TDebugSnapshot& s) {
  TDebugTexts t;
  if (s.Funk) t.Zfm = ZfmLines(*s.Funk);
  if (s.Station) {
    const TDebugStation& st = *s.Station;
    t.FmCaption = st.StationName + "  (" + IntStr(st.Adr1) + ":" + IntStr(st.Adr2) + ":" + IntStr(st.Adr3) + ")";
    t.Fm = FmLines(st);
  }
  return t;
}

std::vector<double> FmTabStops(const std::vector<std::string>& fm,
                               const std::function<double(const std::string&)>& width) {
  double label = 0, column = 0;
  size_t columns = 0;
  for (const std::string& row : fm) {
    if (row.size() < kFmLabelLength) continue;
    label = std::max(label, width(row.substr(0, kFmLabelLength)));
    size_t entries = 0;
    for (size_t from = kFmLabelLength; from < row.size(); ++entries) {
      size_t tab = row.find('\t', from);
      if (tab == std::string::npos) tab = row.size();
      column = std::max(column, width(row.substr(from, tab - from)));
      from = tab + 1;
    }
    columns = std::max(columns, entries);
  }
  column += width("  ");
  std::vector<double> stops;
  for (size_t k = 1; k <= columns; ++k) stops.push_back(label + double(k) * column);
  return stops;
}

int32_t SpinUp(int32_t shown, int32_t count) { return shown < count - 1 ? shown + 1 : shown; }

int32_t SpinDown(int32_t shown) { return shown > 0 ? shown - 1 : shown; }

}  // namespace opc
