#include "opcclient/kopl_routines.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/com/bstr.h"
#include "platform/com/class_registry.h"
#include "platform/com/connection_point.h"
#include "platform/com/security.h"
#include "platform/cp1252.h"
#include "platform/registry.h"

namespace kopl {

namespace com = platform::com;

namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1899-12-30 to 1970-01-01
constexpr int64_t kSecondsPerDay = 86400;

}  // namespace

std::string ToOpcText(const std::string& text) { return platform::Cp1252ToUtf8(text); }
std::string FromOpcText(const std::string& text) { return platform::Utf8ToCp1252(text); }

std::string ServerStateText(int32_t state) {
  static const char* const kTexts[] = {"running", "failed", "no config", "suspended", "test"};
  if (state < 1 || state > 5) return "";
  return kTexts[state - 1];
}

void GetOPCServers(std::vector<std::string>& list) {
  list.clear();
  platform::Registry reg;
  const std::string root = platform::kClassesRoot;
  for (const std::string& name : reg.SubKeys(root)) {
    if (name.size() > 256) continue;
    if (reg.KeyExists(root + "\\" + name + "\\OPC")) list.push_back(FromOpcText(name));
  }
}

TDateTime FileTimeToDateTime(FILETIME ft) {
  if (ft.dwLowDateTime == 0 || ft.dwHighDateTime == 0) return 0;
  uint64_t v = platform::FileTimeToU64(ft);
  if (v > uint64_t(INT64_MAX)) return 0;
  // Whole seconds since 1970 (floored) and the 100 ns steps left over.
  int64_t since = int64_t(v) - int64_t(platform::kFileTimeUnixEpoch);
  int64_t secs = since / 10'000'000;
  int64_t rest = since % 10'000'000;
  if (rest < 0) {
    rest += 10'000'000;
    --secs;
  }
  time_t t = time_t(secs);
  tm local{};
  if (!localtime_r(&t, &local)) return 0;
  int64_t local_secs = secs + local.tm_gmtoff;
  int64_t days = local_secs / kSecondsPerDay;
  int64_t in_day = local_secs % kSecondsPerDay;
  if (in_day < 0) {
    in_day += kSecondsPerDay;
    --days;
  }
  return kUnixEpochDays + double(days) + (double(in_day) + double(rest) / 1e7) / double(kSecondsPerDay);
}

std::string DateTimeToText(TDateTime t) {
  using namespace std::chrono;
  double day = std::floor(t);
  // Round to the second, carrying into the next day.
  int64_t secs = std::llround((t - day) * double(kSecondsPerDay));
  int64_t whole = int64_t(day) + secs / kSecondsPerDay;
  secs %= kSecondsPerDay;
  year_month_day ymd{sys_days{1899y / December / 30} + days{whole}};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02u.%02u.%04d %02d:%02d:%02d", unsigned(ymd.day()), unsigned(ymd.month()),
                int(ymd.year()), int(secs / 3600), int(secs / 60 % 60), int(secs % 60));
  return buf;
}

void EnumStringToList(com::IEnumString* e, std::vector<std::string>& list) {
  list.clear();
  if (!e) return;
  for (const std::string& s : com::ReadAll<std::string>(e)) list.push_back(FromOpcText(s));
}

com::BSTR StringToBSTR(const std::string& text) {
  std::u16string wide = platform::Cp1252ToUtf16(text);
  return com::SysAllocStringLen(wide.data(), uint32_t(wide.size()));
}

std::string VariantToString(const Variant& value) {
  try {
    if (value.vt() == com::VT_EMPTY) return "";
    if (value.IsArray()) {
      std::string out;
      for (const Variant& element : value.Elements()) out += VariantToString(element) + ";";
      return out;
    }
    if (value.vt() == com::VT_DATE) return DateTimeToText(value.Real());
    Variant text;
    if (com::FAILED(com::VariantChangeType(&text, value, 0, com::VT_BSTR))) return "";
    return FromOpcText(text.Str());
  } catch (const std::exception&) {
    return "";
  }
}

std::string GUIDToText(const com::GUID& guid) { return com::StringFromCLSID(guid); }

bool ServerNameToCLSID(const std::string& text, CLSID& clsid) {
  std::string name = ToOpcText(text);
  return com::SUCCEEDED(com::CLSIDFromProgID(name, &clsid)) || com::SUCCEEDED(com::CLSIDFromString(name, &clsid));
}

bool IsQualityGood(int32_t quality) { return (quality & 0xC0) == 0xC0; }

void InitComSecurity() {
  com::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, com::RPC_C_AUTHN_LEVEL_NONE, com::RPC_C_IMP_LEVEL_IMPERSONATE,
                            nullptr, com::EOAC_NONE, nullptr);
}

HRESULT ConnectSink(const std::shared_ptr<com::IUnknown>& source, const IID& iid,
                    const std::shared_ptr<com::IUnknown>& sink, DWORD& cookie) {
  auto container = source ? com::Query<com::IConnectionPointContainer>(source) : nullptr;
  if (!container) return com::E_FAIL;
  std::shared_ptr<com::IConnectionPoint> point;
  if (com::FAILED(container->FindConnectionPoint(iid, &point)) || !point) return com::E_FAIL;
  return point->Advise(sink, &cookie);
}

HRESULT DisconnectSink(const std::shared_ptr<com::IUnknown>& source, const IID& iid, DWORD cookie) {
  auto container = source ? com::Query<com::IConnectionPointContainer>(source) : nullptr;
  if (!container) return com::E_FAIL;
  std::shared_ptr<com::IConnectionPoint> point;
  if (com::FAILED(container->FindConnectionPoint(iid, &point)) || !point) return com::E_FAIL;
  return point->Unadvise(cookie);
}

HRESULT DataObjectAdvise(const std::shared_ptr<com::IUnknown>& source, const std::shared_ptr<com::IAdviseSink>& sink,
                         DWORD& connection, com::CLIPFORMAT cf, DWORD advf) {
  auto data = source ? com::Query<com::IDataObject>(source) : nullptr;
  if (!data) return com::E_FAIL;
  com::FORMATETC format;
  format.cfFormat = cf;
  format.ptd = nullptr;
  format.dwAspect = com::DVASPECT_CONTENT;
  format.lindex = -1;
  format.tymed = com::TYMED_HGLOBAL;
  HRESULT hr = data->DAdvise(&format, advf, sink, &connection);
  if (com::FAILED(hr)) connection = 0;
  return hr;
}

HRESULT DataObjectUnadvise(const std::shared_ptr<com::IUnknown>& source, DWORD connection) {
  auto data = source ? com::Query<com::IDataObject>(source) : nullptr;
  if (!data) return com::E_FAIL;
  return data->DUnadvise(connection);
}

com::CLIPFORMAT FormatData() {
  static const com::CLIPFORMAT f = com::RegisterClipboardFormat(com::kOpcStmFormatData);
  return f;
}
com::CLIPFORMAT FormatDataTime() {
  static const com::CLIPFORMAT f = com::RegisterClipboardFormat(com::kOpcStmFormatDataTime);
  return f;
}
com::CLIPFORMAT FormatWriteComplete() {
  static const com::CLIPFORMAT f = com::RegisterClipboardFormat(com::kOpcStmFormatWriteComplete);
  return f;
}

}  // namespace kopl
