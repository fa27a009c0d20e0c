#include "tools/radiosim/pacer.h"

#include <gtest/gtest.h>

namespace radiosim {
namespace {

using std::chrono::microseconds;
using std::chrono::nanoseconds;

TEST(Pacer, BitsOfOneCharacter) {
  struct Row {
    const char* frame;
    int bits;
  } rows[] = {{"8E1", 11}, {"8N1", 10}, {"7E2", 11}, {"8O2", 12}, {"5N1", 7},
              {"9N1", 0},  {"8X1", 0},  {"8N3", 0},  {"8N", 0},   {"", 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.frame);
    EXPECT_EQ(BitsPerChar(r.frame), r.bits);
  }
}

TEST(Pacer, CharacterTimeAt9600Baud8E1) {
  const Pacer p(9600, 11);
  EXPECT_TRUE(p.Paced());
  // 872.7 characters a second.
  EXPECT_EQ(p.CharTime(), nanoseconds(1'145'833));
}

TEST(Pacer, ServerBytesArriveOneCharacterTimeApart) {
  Pacer p(9600, 11);
  const nanoseconds c = p.CharTime();
  p.FromServer("\x02\x10", nanoseconds(0));
  EXPECT_EQ(p.NextDeadline(), c);
  EXPECT_EQ(p.ToModem(c - nanoseconds(1)), "");
  EXPECT_EQ(p.ToModem(c), "\x02");
  EXPECT_EQ(p.ToModem(2 * c), "\x10");
  // A byte written while the line is still busy waits for it.
  p.FromServer("A", 2 * c);
  p.FromServer("B", 2 * c + microseconds(10));
  EXPECT_EQ(p.ToModem(3 * c), "A");
  EXPECT_EQ(p.ToModem(4 * c - nanoseconds(1)), "");
  EXPECT_EQ(p.ToModem(4 * c), "B");
  // After a pause the next byte takes one character time from when it was written.
  p.FromServer("C", 10 * c);
  EXPECT_EQ(p.ToModem(11 * c), "C");
  EXPECT_EQ(p.NextDeadline(), kNever);
}

TEST(Pacer, BothDirectionsRunApart) {
  Pacer p(9600, 11);
  const nanoseconds c = p.CharTime();
  p.FromServer("\x02", nanoseconds(0));
  p.FromModem("\x10\x02", nanoseconds(0));
  EXPECT_EQ(p.ToModem(c), "\x02");
  EXPECT_EQ(p.ToServer(c), "\x10");
  EXPECT_EQ(p.ToServer(2 * c), "\x02");
}

TEST(Pacer, WithoutRateBytesPassAtOnce) {
  Pacer p;
  EXPECT_FALSE(p.Paced());
  p.FromServer("\x02\x10\x03", nanoseconds(5));
  EXPECT_EQ(p.ToModem(nanoseconds(5)), "\x02\x10\x03");
  p.FromModem("\x10", nanoseconds(6));
  EXPECT_EQ(p.ToServer(nanoseconds(6)), "\x10");
  EXPECT_EQ(p.NextDeadline(), kNever);
}

}  // namespace
}  // namespace radiosim
