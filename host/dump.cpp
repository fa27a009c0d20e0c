#include "host/dump.h"

#include <cstdio>

namespace host {

namespace com = platform::com;

std::string FileTimeText(platform::FILETIME ft) {
  constexpr uint64_t kPerDay = 864'000'000'000ull;  // 100 ns steps
  const uint64_t v = platform::FileTimeToU64(ft);
  // Days since 1601-01-01 to a date, in whole 400-year cycles (146097 days) from 1600-03-01,
  // so every FILETIME has its date, far beyond the years the calendar types cover.
  const uint64_t z = v / kPerDay + 306;  // 1600-03-01 is 306 days before 1601-01-01
  const uint64_t era = z / 146097, doe = z % 146097;
  const uint64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const uint64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const uint64_t mp = (5 * doy + 2) / 153;
  const unsigned day = unsigned(doy - (153 * mp + 2) / 5 + 1);
  const unsigned month = unsigned(mp < 10 ? mp + 3 : mp - 9);
  const uint64_t year = 1600 + era * 400 + yoe + (month <= 2 ? 1 : 0);
  const uint64_t ms = v % kPerDay / 10'000;
  char text[48];
  std::snprintf(text, sizeof text, "%04llu-%02u-%02u %02u:%02u:%02u.%03u", static_cast<unsigned long long>(year), month,
                day, unsigned(ms / 3'600'000), unsigned(ms / 60'000 % 60), unsigned(ms / 1000 % 60),
                unsigned(ms % 1000));
  return text;
}

std::string ValueText(const com::Variant& value) {
  com::Variant text;
  if (com::FAILED(com::VariantChangeType(&text, value, 0, com::VT_BSTR))) return {};
  std::string out = text.Str();
  for (char& c : out)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return out;
}

void WriteDump(const NameSpace& ns, com::DaBackend& backend, std::ostream& out) {
  const auto& items = ns.Space().Items();
  std::vector<uint32_t> handles;
  handles.reserve(items.size());
  for (const auto& item : items) handles.push_back(item->handle);
  std::vector<com::DaBackend::Reading> readings;
  if (!handles.empty()) backend.Read(handles, &readings);
  readings.resize(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    const com::AddressItem& item = *items[i];
    const com::DaBackend::Reading& r = readings[i];
    out << item.item_id << '\t' << item.canonical << '\t' << item.access_rights << '\t' << ValueText(r.value) << '\t'
        << r.quality << '\t' << FileTimeText(r.stamp) << '\n';
    for (const com::DaProperty& p : ns.PropertiesOf(item.item_id))
      out << '\t' << p.id << '\t' << p.description << '\t' << p.type << '\t' << ValueText(p.value) << '\n';
  }
  out.flush();
}

}  // namespace host
