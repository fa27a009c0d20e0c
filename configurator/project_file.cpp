#include "configurator/project_file.h"

#include <charconv>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "configurator/station_tree.h"
#include "platform/text_format.h"

namespace configurator {

std::string RealText(double value) {
  if (!std::isfinite(value)) throw std::domain_error("a channel's factor or offset is not a number");
  char buf[400];
  if (value == std::nearbyint(value)) {
    auto end = std::to_chars(buf, buf + sizeof buf, value + 0.0, std::chars_format::fixed, 0).ptr;
    return std::string(buf, end);
  }
  // to_chars gives "1.50000000000000e+00"; the file wants " 1.50000000000000E+0000".
  auto end = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14).ptr;
  std::string s(buf, end);
  auto e = s.find('e');
  std::string exponent = s.substr(e + 2);
  exponent.insert(0, 4 - std::min<size_t>(4, exponent.size()), '0');
  return (value < 0 ? "-" : " ") + s.substr(0, e) + "E" + s[e + 1] + exponent;
}

namespace {

const char* const kEol = "\r\n";

std::string TypLine(const TFuMo& st) {
  std::string modules;
  for (int32_t i = 0; i < st.ModuleCount; ++i) modules += "," + st.Modules[size_t(i)].Name;
  return "TYP=" + platform::FormatText("%s,%s,%s,%d,%d,%d%s", {st.Name, st.DeviceType.Name, "0", st.Address,
                                                                st.Parent1, st.Parent2, modules});
}

std::string AdrHeader(int32_t address, const char* suffix) {
  return "[ADR" + platform::FormatText("%3.3d", {address}) + suffix + "]";
}

// The station's parents as its place in the tree gives them.
void SetParents(const TStationNode& node, TFuMo& st) {
  st.Parent1 = st.Parent2 = 0;
  const TStationNode* parent = node.Parent();
  if (node.Level() < 2) return;
  auto address = [](const TStationNode* n) { return n->Station() ? n->Station()->Address : 0; };
  if (node.Level() == 2) {
    st.Parent1 = address(parent);
    return;
  }
  const TStationNode* top = parent;
  while (top->Level() > 1) top = top->Parent();
  st.Parent1 = address(top);
  st.Parent2 = address(parent);
}

}  // namespace

std::string ProjectText(TStationTree& tree) {
  TStationNode* root = tree.Root();
  const TZFM* zfm = root ? root->CentralModem() : nullptr;
  if (!zfm) throw std::logic_error("the project has no central modem");

  std::vector<TFuMo*> stations;
  std::vector<const TStationNode*> nodes;
  for (TStationNode* n = tree.Next(root); n; n = tree.Next(n)) {
    if (TFuMo* st = n->Station()) {
      stations.push_back(st);
      nodes.push_back(n);
    }
  }

  std::string out;
  auto line = [&](const std::string& text) { out += text + kEol; };
  line("[ZENTRALFUNKMODEM]");
  line("TYP=" + zfm->Name + "," + zfm->DeviceType.Name + "," + std::to_string(zfm->DeviceType.TypeId));
  line("Option=0," + std::to_string(zfm->ExtraWait));
  line("RS232=" + zfm->Port + "," + serial::BaudRateText(zfm->BaudRate) + "," + serial::ParityText(zfm->Parity) + "," +
       serial::DataBitsText(zfm->DataBits) + "," + serial::StopBitsText(zfm->StopBits));
  line("MODUS=" + std::to_string(zfm->DeviceType.Flags));
  line("");

  line("[UNTERSTATIONEN]");
  std::vector<std::string> relays;
  for (size_t i = 0; i < stations.size(); ++i) {
    SetParents(*nodes[i], *stations[i]);
    if (stations[i]->Relay)
      relays.push_back(TypLine(*stations[i]));
    else
      line(TypLine(*stations[i]));
  }
  if (!relays.empty()) {
    line("");
    line("[RELAISSTATIONEN]");
    for (const std::string& r : relays) line(r);
  }

  line("");
  line("[KONFIGURATOR]");
  for (const TFuMo* st : stations) {
    std::string ids = st->Name + "=" + std::to_string(st->DeviceType.TypeId);
    for (int32_t m = 0; m < st->ModuleCount; ++m) ids += "," + std::to_string(st->Modules[size_t(m)].TypeId);
    line(ids);
  }

  for (const TFuMo* st : stations) {
    line("");
    line(AdrHeader(st->Address, "+"));
    line(platform::FormatText("Info=%d,%d,%d,%d,%d,%d", {st->DeviceType.Flags, st->DeviceType.Value8, st->CountBE(),
                                                         st->CountAE(), st->CountBA(), st->CountAA()}));
    line("Option=" + std::to_string(st->OnlineCheck) + "," + std::to_string(st->ExtraWait));
    line(AdrHeader(st->Address, ""));
    for (const TWert& w : st->Channels)
      line("KANAL=" + platform::FormatText("%s,%s,%s,%s,%s,%d", {w.Kind.substr(0, 2), w.Name, w.Einheit, RealText(w.Faktor),
                                                                 RealText(w.Offset), w.NKs}));
  }
  return out;
}

}  // namespace configurator
