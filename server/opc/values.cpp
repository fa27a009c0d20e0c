#include "server/opc/values.h"

#include <stdexcept>

#include "platform/cp1252.h"

namespace opc {

namespace com = platform::com;

namespace {

com::Variant Converted(const com::RawVariant& raw, com::VARTYPE vt) {
  com::Variant in, out;
  com::HRESULT hr = com::VariantFromRaw(raw, &in);
  if (com::SUCCEEDED(hr)) hr = com::VariantChangeType(&out, in, 0, vt);
  if (com::FAILED(hr))
    throw std::invalid_argument("Could not convert variant of type " + std::to_string(raw.vt) + " into type " +
                                std::to_string(vt));
  return out;
}

}  // namespace

int32_t VariantAsInt(const com::RawVariant& raw) { return int32_t(Converted(raw, com::VT_I4).Int()); }

double VariantAsDouble(const com::RawVariant& raw) { return Converted(raw, com::VT_R8).Real(); }

std::string ValueText(const com::Variant& value) {
  com::Variant text;
  if (com::FAILED(com::VariantChangeType(&text, value, 0, com::VT_BSTR))) return "?";
  return platform::Utf8ToCp1252(text.Str());
}

std::string ValueText(const com::RawVariant& raw) {
  com::Variant value;
  if (com::FAILED(com::VariantFromRaw(raw, &value))) return "?";
  return ValueText(value);
}

std::string RealText(double value) { return ValueText(com::Variant::R8(value)); }

}  // namespace opc
