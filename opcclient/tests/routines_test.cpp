// The plain routines: error texts and checks, times, value texts, class names.
#include <gtest/gtest.h>

#include "opcclient/tests/kopl_fixture.h"
#include "platform/com/bstr.h"
#include "platform/com/security.h"

namespace kopl::testing {
namespace {

using RoutinesTest = KoplTest;

TEST(Routines, ResultChecks) {
  struct Row {
    const char* name;
    HRESULT code;
    enum { kPasses, kOpc, kOle } outcome;
    const char* text;
  } rows[] = {
      {"S_OK", S_OK, Row::kPasses, ""},
      {"S_FALSE", S_FALSE, Row::kPasses, ""},
      {"an OPC success code", OPC_S_UNSUPPORTEDRATE, Row::kPasses, ""},
      {"an OPC failure", OPC_E_UNKNOWNPATH, Row::kOpc, "The item's access path is not known to the server."},
      {"two lines", OPC_E_BADTYPE, Row::kOpc,
       "The server cannot convert the data between the\r\nrequested data type and the canonical data"},
      {"a system failure", E_INVALIDARG, Row::kOle, "The parameter is incorrect."},
      {"an unknown failure", HRESULT(0x8FFF0001), Row::kOle, "OLE error 0x8FFF0001"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    try {
      OpcCheck(r.code);
      EXPECT_EQ(r.outcome, Row::kPasses);
    } catch (const EOPCException& e) {
      EXPECT_EQ(r.outcome, Row::kOpc);
      EXPECT_EQ(std::string(e.what()), r.text);
    } catch (const EOleSysError& e) {
      EXPECT_EQ(r.outcome, Row::kOle);
      EXPECT_EQ(e.ErrorCode(), r.code);
      EXPECT_EQ(std::string(e.what()), r.text);
    }
  }
  EXPECT_EQ(OpcErrorText(OPC_S_INUSE), "The operation cannot be completed because the\r\nobject still has references that exist.");
  EXPECT_EQ(OpcErrorText(E_FAIL), "");
}

TEST(Routines, StateTexts) {
  const char* texts[] = {"", "running", "failed", "no config", "suspended", "test", ""};
  for (int state = 0; state <= 6; ++state) EXPECT_EQ(ServerStateText(state), texts[state]) << state;
  EXPECT_EQ(ServerStateText(-1), "");
}

TEST(Routines, FileTimes) {
  struct Row {
    const char* name;
    FILETIME ft;
    TDateTime expected;
  } rows[] = {
      {"zero", {0, 0}, 0},
      {"low half zero", {0, 0x01D9A000}, 0},
      {"high half zero", {12345, 0}, 0},
      {"1970-01-01 12:00", platform::U64ToFileTime(platform::kFileTimeUnixEpoch + 432'000'000'000ull), 25569.5},
      {"2000-03-01 00:00:00.5", platform::U64ToFileTime(platform::kFileTimeUnixEpoch + 9'518'688'000'000'000ull + 5'000'000),
       36586.0 + 0.5 / 86400},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_NEAR(FileTimeToDateTime(r.ft), r.expected, 1e-9);
  }
}

TEST(Routines, ValueTexts) {
  struct Row {
    const char* name;
    Variant value;
    std::string text;
  } rows[] = {
      {"empty", Variant(), ""},
      {"null", Variant::Null(), ""},
      {"integer", Variant::I4(-17), "-17"},
      {"real", Variant::R8(2.5), "2.5"},
      {"boolean", Variant::Bool(true), "True"},
      {"text in UTF-8", Variant::Str("Stra\xC3\x9F" "e"), "Stra\xDF" "e"},
      {"array", Variant::Array(VT_I2, {Variant::I2(1), Variant::I2(2)}), "1;2;"},
      {"empty array", Variant::Array(VT_I4, {}), ""},
      {"date", Variant::Date(36586.75), "01.03.2000 18:00:00"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(VariantToString(r.value), r.text);
  }
}

TEST_F(RoutinesTest, ClassNames) {
  CLSID c;
  EXPECT_TRUE(ServerNameToCLSID(kScriptedProgId, c));
  EXPECT_EQ(c, kScriptedClsid);
  EXPECT_TRUE(ServerNameToCLSID("{0BADC0DE-0000-0000-0000-000000000001}", c));
  EXPECT_EQ(GUIDToText(c), "{0BADC0DE-0000-0000-0000-000000000001}");
  EXPECT_FALSE(ServerNameToCLSID("Unknown.Thing", c));
  EXPECT_FALSE(ServerNameToCLSID("{not a guid}", c));
}

TEST(Routines, DatatypeNamesAndTexts) {
  for (int i = 0; i < kDatatypeCount; ++i) {
    OPCADatatype t = OPCADatatype(i);
    EXPECT_EQ(DatatypeFromName(DatatypeName(t)), t);
  }
  EXPECT_EQ(DatatypeName(OPCADatatype::vtBSTR), "vtBSTR");
  EXPECT_EQ(DatatypeFromName("VTbstr"), OPCADatatype::vtBSTR);
  EXPECT_EQ(DatatypeFromName("vtFOO"), std::nullopt);
  BSTR b = StringToBSTR("\xC4" "a");
  EXPECT_EQ(std::u16string(b), u"\u00C4a");
  SysFreeString(b);
  EXPECT_TRUE(IsQualityGood(0xD8));
  EXPECT_FALSE(IsQualityGood(0x40));
}

TEST(Routines, ComSecurityIsRecordedOnceWithoutAuthentication) {
  InitComSecurity();
  auto settings = platform::com::RecordedSecurity();
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->authn_level, platform::com::RPC_C_AUTHN_LEVEL_NONE);
  EXPECT_EQ(settings->imp_level, platform::com::RPC_C_IMP_LEVEL_IMPERSONATE);
  EXPECT_EQ(settings->auth_services, -1);
  // A second call is too late and changes nothing, as on the platform; the explorer ignores it.
  EXPECT_EQ(platform::com::CoInitializeSecurity(nullptr, 0, nullptr, nullptr, 6, 2, nullptr, 0, nullptr),
            platform::com::RPC_E_TOO_LATE);
  EXPECT_EQ(platform::com::RecordedSecurity()->authn_level, platform::com::RPC_C_AUTHN_LEVEL_NONE);
}

}  // namespace
}  // namespace kopl::testing
