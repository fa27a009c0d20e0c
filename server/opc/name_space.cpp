#include "server/opc/name_space.h"

#include <exception>
#include <map>
#include <stdexcept>

#include "platform/com/variant.h"
#include "platform/cp1252.h"
#include "server/driver/config_loader.h"
#include "server/driver/error_codes.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"
#include "server/opc/exports.h"
#include "server/opc/item_handle.h"
#include "server/opc/log_codes.h"
#include "server/opc/values.h"
#include "support/error_log.h"
#include "support/log_text.h"

namespace opc {

namespace {

namespace com = platform::com;
namespace tk = platform::toolkit;
using driver::ENamespace;
using driver::WriteLog;
using support::IntStr;

constexpr size_t kText = 255;
constexpr size_t kPropertyText = 20;

// Debug bits 32 and 1: one line per tag and property.
bool TraceItems() { return driver::IsDbgFlag(33); }

com::Variant Text(const std::string& cp1252) { return com::Variant::Str(platform::Cp1252ToUtf8(cp1252)); }

// A station as the failing-item text names it: "\"Pumpe\" (NS: 1)".
std::string StationText(const driver::TFuMo& st, int32_t station) {
  return ("\"" + st.StationName + "\" (NS: " + IntStr(station) + ")").substr(0, kText);
}

bool IsChannelGroup(int32_t g) { return g >= driver::kGroupAE && g <= driver::kGroupBA; }

// What the user looks for in Ostrel.INI: the station's number in its list and its section.
std::string Where(const driver::TFuMo& st, int32_t station) {
  return "station " + IntStr(station) + " [" + driver::ChannelSection(st) + "]";
}

std::string StationUsedTwice(const std::string& name, int32_t first, int32_t second) {
  return ("Name \"" + name + "\" used twice: " + Where(driver::FML->Items(first), first) + " and " +
          Where(driver::FML->Items(second), second))
      .substr(0, kText);
}

// A register name twice in one station, in the groups of the first and the second.
std::string TagUsedTwice(const driver::TFuMo& st, const std::string& name, int32_t first, int32_t second) {
  const bool mixed = IsChannelGroup(first) != IsChannelGroup(second);
  return ("Name \"" + name + "\" used twice in station \"" + st.StationName + "\" [" + driver::ChannelSection(st) +
          "]" + (mixed ? ": a channel has the name of a system register" : ""))
      .substr(0, kText);
}

}  // namespace

int32_t ChannelKind(int32_t group) {
  switch (group) {
    case driver::kGroupAE: return 3;
    case driver::kGroupBE: return 1;
    case driver::kGroupAA: return 2;
    default: return 0;  // binary outputs
  }
}

std::string AddressText(const driver::TFuMo& station) {
  const std::string& path = station.AdrPath;
  auto byte = [&](size_t i) { return i < path.size() ? int32_t(uint8_t(path[i])) : 0; };
  std::string text = IntStr(byte(0));
  for (size_t i : {1, 2})
    if (byte(i) != 0) text += "-" + IntStr(byte(i));
  return text;
}

void TNameSpaceBuilder::Build() {
  WriteLog("Build-NS: Start");
  try {
    if (driver::FatalErrorCode != 0) throw ENamespace(driver::kErrNsAfterFatal);
    if (!driver::FML) throw std::logic_error("no station list");
    if (!create_node_ || !create_tag_ || !create_property_) throw std::invalid_argument("callback missing");
    uint32_t root = 0;
    std::map<std::string, int32_t> below_root;  // station name -> the first station of that name
    for (int32_t i = 0; i < driver::FML->Count(); ++i) {
      const driver::TFuMo& st = driver::FML->Items(i);
      if (support::TestDbgFlag(32)) WriteLog("NS: FM.Name=" + st.StationName);
      if (st.StationName.empty()) throw std::invalid_argument("station " + IntStr(i) + " has no name");
      // A second station of one name would have the item IDs of the first; any host refuses
      // it, but only here can the message say which stations they are.
      if (i > 0) {
        const auto [first, fresh] = below_root.emplace(st.StationName, i);
        if (!fresh) {
          driver::SetFailItemName(StationUsedTwice(st.StationName, first->second, i));
          throw ENamespace(driver::kErrNsZfmParameter);
        }
      }
      uint32_t node = 0;
      QarSetLastError(0);
      const int32_t ok = create_node_(i == 0 ? 0 : root, st.StationName.c_str(), &node);
      if (i == 0) root = node;
      int32_t refused = 0;
      if (!ok) {
        switch (QarGetLastError()) {
          case tk::kErrorInvalidHandle: refused = driver::kErrNsZfmHandle; break;
          case tk::kErrorInvalidParameter: refused = driver::kErrNsZfmParameter; break;
          case tk::kErrorHostException: refused = driver::kErrNsZfmException; break;
          default: refused = i > 0 ? driver::kErrNsZfm : 0;
        }
      }
      if (refused != 0) {
        // Set before the exception takes it up: what an earlier station left there is not this one.
        driver::SetFailItemName(StationText(st, i));
        throw ENamespace(refused);
      }
      CreateNSItems(node, i);
    }
    WriteLog("Build-NS: Ende");
  } catch (const ENamespace& e) {
    WriteLog("NS: Create, Exception=-$" + NegHex2(e.Code) + ", " + e.what());
    driver::RecordFatalError(e.Code);
  } catch (const std::exception& e) {
    WriteLog(std::string("NS: Create, Exception=") + e.what());
    driver::RecordFatalError(driver::kErrNsAfterFatal);
  }
}

int32_t TNameSpaceBuilder::CreateNSItems(uint32_t node, int32_t station) {
  driver::TFuMo& st = driver::FML->Items(station);
  std::map<std::string, int32_t> group_of;  // tag name -> its register group
  for (int32_t g = 0; g < driver::kGroupCount; ++g) {
    std::string text;
    try {
      // The output groups are switched by clients; SIMULATION makes every register writable.
      uint32_t access = tk::kAccessRead;
      if (g == driver::kGroupAA || g == driver::kGroupBA || driver::Options.SIMULATION) access |= tk::kAccessWrite;
      for (int32_t j = 0; j < st.RegCount(g); ++j) {
        driver::TWert& w = st.GetWert(g, j);
        const com::VARTYPE type = w.bFloat ? com::VT_R8 : com::VT_I4;
        uint32_t rights = access;
        if (!w.Name.empty() && w.Name[0] == '&') {
          w.Name.erase(0, 1);
          rights |= tk::kAccessWrite;
        }
        if (w.Name.empty() || w.Name == "#") continue;
        const int32_t handle = ItemHandle{0, g, station, j}.Encode();
        text = ("\"" + w.Name + "\" (NS: " + IntStr(station) + ":" + IntStr(g) + "-" + IntStr(j) + ")").substr(0, kText);
        if (TraceItems()) WriteLog(text);
        // Two tags of one name would share an item ID: refused, with both named.
        const auto [earlier, fresh] = group_of.emplace(w.Name, g);
        if (!fresh) text = TagUsedTwice(st, w.Name, earlier->second, g);
        uint32_t tag = 0;
        if (!fresh || !create_tag_(node, w.Name.c_str(), type, rights, handle, &tag)) {
          driver::SetFailItemName(text);
          throw ENamespace(driver::kErrNsItem);
        }
        if (IsChannelGroup(g))
          BuildProperties(tag, &w, handle, ChannelKind(g));
        else if (g == driver::kGroupSystem && j == 0)
          BuildSystemProperties(tag, &st, handle);
      }
    } catch (const ENamespace& e) {
      WriteLog(std::string("NS: Create, Exception=") + e.what());
      driver::RecordFatalError(e.Code);
      return e.Code;
    } catch (const std::exception& e) {
      WriteLog(std::string("NS: Create, Exception=") + e.what());
      driver::RecordFatalError(driver::kErrNsChannels);
      return driver::kErrNsChannels;
    }
  }
  return 0;
}

void TNameSpaceBuilder::Property(uint32_t tag, uint32_t id, const char* description, const com::Variant& value,
                                 int32_t handle) {
  com::RawVariant raw;
  com::RawVariantInit(&raw);
  if (com::FAILED(com::VariantToRaw(value, &raw))) throw std::runtime_error("property value not representable");
  uint32_t property = 0;
  create_property_(tag, id, description, value.vt(), tk::kAccessRead, &raw, handle, &property);
  com::RawVariantClear(&raw);
}

namespace {

// A property build never throws: a failure is logged under the operation's name and returned.
template <class Build>
int32_t PropertyGuard(const char* operation, Build build) {
  try {
    build();
    return 0;
  } catch (const ENamespace& e) {
    WriteLog(std::string(operation) + ", Exception=-$" + NegHex2(e.Code) + ", " + e.what());
    return e.Code;
  } catch (const std::exception& e) {
    WriteLog(std::string(operation) + ", Exception=" + e.what());
    return driver::kErrNsProperty;
  }
}

}  // namespace

int32_t TNameSpaceBuilder::BuildProperties(uint32_t tag, const driver::TWert* w, int32_t itemHandle, int32_t kind) {
  return PropertyGuard("NS: BuildProperties", [&] {
    if (!w) throw ENamespace(driver::kErrNsProperty);
    if (TraceItems())
      WriteLog(" NS: BuildProperties  .Einheit=" + w->Einheit + " .Faktor=" + RealText(w->Faktor) +
               " .Offset=" + RealText(w->Offset) + " .NKs=" + IntStr(w->NKs) + " .Infos=" + IntStr(kind));
    Property(tag, 5001, "Item Unit", Text(w->Einheit), itemHandle + 1);
    Property(tag, 5002, "Item Faktor", com::Variant::R8(w->Faktor), itemHandle + 2);
    Property(tag, 5003, "Item Offset", com::Variant::R8(w->Offset), itemHandle + 3);
    if (w->NKs < INT16_MIN || w->NKs > INT16_MAX) throw std::range_error("Range check error");
    Property(tag, 5004, "Item Decimals", com::Variant::I2(int16_t(w->NKs)), itemHandle + 4);
    Property(tag, 5007, "Item Infos", com::Variant::I2(int16_t(kind)), itemHandle + 5);
  });
}

int32_t TNameSpaceBuilder::BuildSystemProperties(uint32_t tag, const driver::TFuMo* st, int32_t itemHandle) {
  return PropertyGuard("NS: BuildSystemProperties", [&] {
    if (!st) throw ENamespace(driver::kErrNsProperty);
    const std::string type = st->TypeName.substr(0, kPropertyText);
    if (TraceItems()) WriteLog(" NS: BuildProperties.Typ " + type);
    Property(tag, 5005, "RM Type", Text(type), itemHandle + 5);
    const std::string address = AddressText(*st).substr(0, kPropertyText);
    if (TraceItems()) WriteLog(" NS: BuildProperties.Adressen " + address);
    Property(tag, 5006, "Adress", Text(address), itemHandle + 6);
  });
}

}  // namespace opc

void SOXpSBuildDANameSpace(TCreateNode createNode, TCreateTag createTag, TCreateProperty createProperty) {
  try {
    opc::TNameSpaceBuilder(createNode, createTag, createProperty).Build();
  } catch (...) {
  }
}
