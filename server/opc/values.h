// The register values as the host's variants: reading the host's write values, and the texts
// that the log lines show for a value.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com/raw_variant.h"
#include "platform/com/variant.h"

namespace opc {

// The host's value converted as the automation conversion does (fractions round half to
// even). Throws std::invalid_argument when it does not convert.
int32_t VariantAsInt(const platform::com::RawVariant& raw);
double VariantAsDouble(const platform::com::RawVariant& raw);

// A value as text for log lines ("." as decimal point), in Windows-1252; "?" when it has none.
std::string ValueText(const platform::com::Variant& value);
std::string ValueText(const platform::com::RawVariant& raw);
std::string RealText(double value);

}  // namespace opc
