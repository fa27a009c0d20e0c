#include "platform/com/rpc/wire.h"

#include <gtest/gtest.h>

#include <cmath>

namespace platform::com::wire {
namespace {

TEST(WireValueTest, EveryKindRoundTrips) {
  const Variant values[] = {
      Variant(), Variant::Null(), Variant::I1(-1), Variant::I2(-32768), Variant::I4(7), Variant::I8(INT64_MAX),
      Variant::Int(-5), Variant::UI1(255), Variant::UI2(65535), Variant::UI4(1), Variant::UI8(UINT64_MAX),
      Variant::UInt(2), Variant::R4(0.1f), Variant::R8(-1e300), Variant::Date(45000.25), Variant::Cy(-1),
      Variant::Bool(true), Variant::Error(OPC_E_RANGE), Variant::Str("\xC3\xA4\xC3\xB6\xC3\xBC"),
      Variant::Array(VT_R8, {Variant::R8(1), Variant::R8(2)}),
      Variant::Array(VT_VARIANT, {Variant::Str("a"), Variant::I2(3)}), Variant::Array(VT_I4, {}),
  };
  for (const Variant& v : values) {
    SCOPED_TRACE(v.vt());
    qar::com::Value msg;
    EncodeValue(v, &msg);
    Variant back;
    ASSERT_TRUE(DecodeValue(msg, &back));
    EXPECT_EQ(back, v);
  }
}

TEST(WireValueTest, RefusesValuesThatAreNotWhatTheySay) {
  struct Row {
    const char* label;
    qar::com::Value msg;
  };
  std::vector<Row> rows;
  auto add = [&](const char* label, uint32_t vt, auto set) {
    qar::com::Value v;
    v.set_vt(vt);
    set(v);
    rows.push_back({label, v});
  };
  add("I2 carried as text", VT_I2, [](auto& v) { v.set_text("1"); });
  add("I2 out of range", VT_I2, [](auto& v) { v.set_int_value(40000); });
  add("UI1 out of range", VT_UI1, [](auto& v) { v.set_uint_value(256); });
  add("BOOL neither -1 nor 0", VT_BOOL, [](auto& v) { v.set_int_value(5); });
  add("R4 that no float holds", VT_R4, [](auto& v) { v.set_real_value(0.1); });
  add("BSTR without text", VT_BSTR, [](auto&) {});
  add("EMPTY with a value", VT_EMPTY, [](auto& v) { v.set_int_value(0); });
  add("unknown type", 99, [](auto& v) { v.set_int_value(1); });
  add("type past 16 bits", 0x10003, [](auto& v) { v.set_int_value(1); });
  add("by-reference type", 0x4003, [](auto& v) { v.set_int_value(1); });
  add("array without elements field", VT_ARRAY | VT_I4, [](auto& v) { v.set_int_value(1); });
  add("array element of another type", VT_ARRAY | VT_I4, [](auto& v) {
    auto* e = v.mutable_elements()->add_elements();
    e->set_vt(VT_R8);
    e->set_real_value(1);
  });
  add("array inside an array", VT_ARRAY | VT_VARIANT, [](auto& v) {
    auto* e = v.mutable_elements()->add_elements();
    e->set_vt(VT_ARRAY | VT_I4);
    e->mutable_elements();
  });
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Variant out = Variant::Str("untouched");
    EXPECT_FALSE(DecodeValue(row.msg, &out));
    EXPECT_EQ(out, Variant::Str("untouched"));
  }
}

TEST(WireValueTest, FloatNaNPasses) {
  qar::com::Value v;
  v.set_vt(VT_R4);
  v.set_real_value(std::nan(""));
  Variant out;
  EXPECT_TRUE(DecodeValue(v, &out));
  EXPECT_TRUE(std::isnan(out.Real()));
}

}  // namespace
}  // namespace platform::com::wire
