#include "platform/text_format.h"

#include <gtest/gtest.h>

#include <clocale>

namespace platform {
namespace {

TEST(FormatText, Directives) {
  struct Row {
    const char* name;
    std::string got;
    const char* want;
  } rows[] = {
      {"string", FormatText("Projekt %s speichern?", {"Pumpen"}), "Projekt Pumpen speichern?"},
      {"two strings", FormatText("%s in %s geschrieben", {"Ostrel", "/opt/qar/"}), "Ostrel in /opt/qar/ geschrieben"},
      {"decimal", FormatText("AnaOut %d", {3}), "AnaOut 3"},
      {"negative decimal", FormatText("%d", {-42}), "-42"},
      {"zero-padded address", FormatText("ADR%3.3d+", {7}), "ADR007+"},
      {"address wider than precision", FormatText("%3.3d", {1234}), "1234"},
      {"negative with precision", FormatText("%3.3d", {-5}), "-005"},
      {"width", FormatText("[%5d|%-5d]", {42, 42}), "[   42|42   ]"},
      {"hex upper case", FormatText("$ %x", {255}), "$ FF"},
      {"hex negative 32-bit", FormatText("%x", {-1}), "FFFFFFFF"},
      {"decimals from argument", FormatText("%1.*f", {2, 3.14159}), "3.14"},
      {"no decimals from argument", FormatText("%1.*f", {0, 2.5}), "2"},
      {"fixed two", FormatText("%.2f", {0.125}), "0.12"},
      {"fixed from integer", FormatText("%.2f", {3}), "3.00"},
      {"negative fixed", FormatText("%.1f", {-0.25}), "-0.2"},
      {"percent", FormatText("100%% %s", {"voll"}), "100% voll"},
      {"string precision", FormatText("%.3s", {"abcdef"}), "abc"},
      {"number as string", FormatText("%s/%s", {12, 0.5}), "12/0.5"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.got, r.want);
  }
}

// A translator's mistake must neither crash nor read memory that is not an argument.
TEST(FormatText, BrokenDirectivesStayAsText) {
  struct Row {
    const char* name;
    std::string got;
    const char* want;
  } rows[] = {
      {"missing argument", FormatText("%s und %s", {"a"}), "a und %s"},
      {"no arguments", FormatText("%d%%", {}), "%d%"},
      {"wrong kind", FormatText("%d %s", {"x", "y"}), "%d x"},
      {"float for decimal", FormatText("%d", {1.5}), "%d"},
      {"unknown conversion", FormatText("%n %p %s", {"a"}), "%n %p a"},
      {"star without integer", FormatText("%1.*f", {"x", 1.0}), "%1.*f"},
      {"directive at the end", FormatText("50%", {}), "50%"},
      {"huge width capped", FormatText("%999999999d", {1}).substr(0, 3), "   "},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.got, r.want);
  }
  EXPECT_EQ(FormatText("%999999999d", {1}).size(), 1000u);
}

TEST(FormatText, DecimalPointWhateverTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 not installed";
  EXPECT_EQ(FormatText("%.2f", {1.5}), "1.50");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
}  // namespace platform
