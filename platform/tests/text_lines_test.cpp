#include "platform/text_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

struct Piece {
  std::string text, ending;
};

std::vector<Piece> Split(const std::string& all) {
  std::vector<Piece> out;
  size_t pos = 0;
  for (std::string_view line, ending; NextLine(all, pos, line, &ending);)
    out.push_back({std::string(line), std::string(ending)});
  return out;
}

TEST(NextLine, EachLineEnd) {
  struct Row {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
  } rows[] = {
      {"CR LF", "a\r\nb\r\n", {"a", "b"}},
      {"LF", "a\nb\n", {"a", "b"}},
      {"CR", "a\rb\r", {"a", "b"}},
      {"CR CR LF", "a\r\r\nb\r\r\n", {"a", "", "b", ""}},
      {"LF CR", "a\n\rb", {"a", "", "b"}},
      {"no end", "a", {"a"}},
      {"empty", "", {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<std::string> lines;
    for (const Piece& p : Split(r.text)) lines.push_back(p.text);
    EXPECT_EQ(lines, r.lines);
  }
}

// Lines of every length around the search windows, with every end: each comes back whole with
// its own end, and the pieces give the text back byte for byte.
TEST(NextLine, LongLinesWithMixedEnds) {
  const char* endings[] = {"\r\n", "\n", "\r"};
  std::string all;
  std::vector<Piece> want;
  for (size_t n = 0; n < 700; n += 7) {
    Piece p{std::string(n, char('a' + n % 26)), endings[n % 3]};
    all += p.text + p.ending;
    want.push_back(p);
  }
  const std::vector<Piece> got = Split(all);
  ASSERT_EQ(got.size(), want.size());
  std::string back;
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].text, want[i].text) << i;
    EXPECT_EQ(got[i].ending, want[i].ending) << i;
    back += got[i].text + got[i].ending;
  }
  EXPECT_EQ(back, all);
}

}  // namespace
}  // namespace platform
