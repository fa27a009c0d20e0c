#include "tools/radiosim/line_3964r.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "tools/tests/bytes.h"

namespace radiosim {
namespace {

using std::chrono::milliseconds;
using testing::Hex;
using testing::ToHex;

// One step of a byte table: at time ms we queue a telegram of our own (when send is given),
// then the server's bytes arrive (or only time passes), and the line answers with exactly
// these bytes.
struct Step {
  int ms;
  const char* in;
  const char* out;
  const char* send = nullptr;
};

struct Case {
  const char* name;
  std::function<void(Line3964R&)> setup;  // arms faults, queues frames of ours
  std::vector<Step> steps;
  std::vector<std::string> telegrams;     // taken from good frames, in order
  LineStats stats;                        // the counters the row cares about, others 0
};

void ExpectStats(const LineStats& got, const LineStats& want) {
  EXPECT_EQ(got.framesReceived, want.framesReceived);
  EXPECT_EQ(got.badFrames, want.badFrames);
  EXPECT_EQ(got.charTimeouts, want.charTimeouts);
  EXPECT_EQ(got.framesSent, want.framesSent);
  EXPECT_EQ(got.refusals, want.refusals);
  EXPECT_EQ(got.dropped, want.dropped);
  EXPECT_EQ(got.conflicts, want.conflicts);
  EXPECT_EQ(got.stray, want.stray);
}

void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Line3964R line;
    if (c.setup) c.setup(line);
    std::vector<std::string> telegrams;
    for (const Step& s : c.steps) {
      SCOPED_TRACE("at " + std::to_string(s.ms) + " ms");
      const auto now = milliseconds(s.ms);
      if (s.send) line.Send(s.send, 1, now);
      line.Receive(Hex(s.in), now);
      EXPECT_EQ(ToHex(line.TakeOutput()), s.out);
      for (auto& t : line.TakeTelegrams()) telegrams.push_back(t);
    }
    std::vector<std::string> want;
    for (const auto& t : c.telegrams) want.push_back(Hex(t));
    EXPECT_EQ(telegrams, want);
    ExpectStats(line.Stats(), c.stats);
  }
}

Line3964R::Timing DefaultTiming() { return {}; }

TEST(Line3964R, FramesFromTheServer) {
  RunCases({
      {"plain frame", nullptr, {{0, "02", "10"}, {1, "60 01 02 10 03 70", "10"}}, {"60 01 02"}, {.framesReceived = 1}},
      {"doubled DLE stands for one", nullptr, {{0, "02 60 10 10 05 10 03 76", "10 10"}}, {"60 10 05"},
       {.framesReceived = 1}},
      {"block check byte that is a DLE", nullptr, {{0, "02 41 42 10 03 10", "10 10"}}, {"41 42"},
       {.framesReceived = 1}},
      {"empty telegram", nullptr, {{0, "02 10 03 13", "10 10"}}, {""}, {.framesReceived = 1}},
      {"frame split over reads", nullptr, {{0, "02 60", "10"}, {5, "01 02 10", ""}, {9, "03 70", "10"}},
       {"60 01 02"}, {.framesReceived = 1}},
      {"wrong block check byte", nullptr, {{0, "02 60 01 02 10 03 71", "10 15"}}, {}, {.badFrames = 1}},
      {"single DLE inside the frame", nullptr, {{0, "02 60 10 05 10 03 66", "10 15"}}, {}, {.badFrames = 1}},
      {"bytes outside a frame are ignored", nullptr, {{0, "55 10 02 10 03 13", "10 10"}}, {""},
       {.framesReceived = 1, .stray = 2}},
      {"two frames back to back", nullptr, {{0, "02 10 03 13 02 41 42 10 03 10", "10 10 10 10"}}, {"", "41 42"},
       {.framesReceived = 2}},
      {"frame that stops is refused after the character time-out",
       nullptr,
       {{0, "02 60 01", "10"}, {219, "", ""}, {220, "", "15"}, {300, "02 10 03 13", "10 10"}},
       {""},
       {.framesReceived = 1, .charTimeouts = 1}},
  });
}

TEST(Line3964R, FaultsInTheReplies) {
  RunCases({
      {"lost DLE to STX", [](Line3964R& l) { l.ArmStxReply(Reply::Lost); },
       {{0, "02", ""}, {1, "02 10 03 13", "10 10"}}, {""}, {.framesReceived = 1}},
      {"NAK to STX", [](Line3964R& l) { l.ArmStxReply(Reply::Nak); }, {{0, "02", "15"}}, {}, {}},
      {"foreign byte to STX", [](Line3964R& l) { l.ArmStxReply(Reply::Foreign); }, {{0, "02", "55"}}, {}, {}},
      {"collision: STX answered by STX, the server's NAK ends it",
       [](Line3964R& l) { l.ArmStxReply(Reply::Collision); },
       {{0, "02", "02"}, {1, "15", ""}, {2, "02 10 03 13", "10 10"}}, {""}, {.framesReceived = 1}},
      {"collision that the server does not end times out", [](Line3964R& l) { l.ArmStxReply(Reply::Collision); },
       {{0, "02", "02"}, {2000, "", ""}, {2001, "02", "10"}}, {}, {}},
      {"lost DLE to the frame: the telegram is still taken",
       [](Line3964R& l) { l.ArmFrameReply(Reply::Lost); }, {{0, "02 60 01 02 10 03 70", "10"}}, {"60 01 02"},
       {.framesReceived = 1}},
      {"NAK to the frame: the telegram is thrown away", [](Line3964R& l) { l.ArmFrameReply(Reply::Nak); },
       {{0, "02 60 01 02 10 03 70", "10 15"}}, {}, {}},
      {"foreign byte to the frame", [](Line3964R& l) { l.ArmFrameReply(Reply::Foreign); },
       {{0, "02 60 01 02 10 03 70", "10 55"}}, {}, {}},
      {"a fault is used once", [](Line3964R& l) { l.ArmStxReply(Reply::Nak); }, {{0, "02", "15"}, {1, "02", "10"}},
       {}, {}},
      {"noise goes out on the idle line", [](Line3964R& l) { l.ArmNoise(); }, {{0, "", "55"}, {1, "", ""}}, {}, {}},
  });
}

TEST(Line3964R, FramesOfOurOwn) {
  auto send = [](std::string tel, int attempts) {
    return [tel, attempts](Line3964R& l) { l.Send(tel, attempts, milliseconds(0)); };
  };
  RunCases({
      {"acknowledged frame", send("AB", 1), {{0, "", "02"}, {1, "10", "41 42 10 03 10"}, {2, "10", ""}}, {},
       {.framesSent = 1}},
      {"DLE in the telegram is doubled", send("\x10", 1), {{0, "10", "02 10 10 10 03 13"}, {1, "10", ""}}, {},
       {.framesSent = 1}},
      {"NAK to our STX with one attempt drops the frame", send("AB", 1), {{0, "15", "02"}, {100, "", ""}}, {},
       {.refusals = 1, .dropped = 1}},
      {"NAK to our STX: the next attempt after the retry pause", send("AB", 2),
       {{0, "15", "02"}, {9, "", ""}, {10, "", "02"}, {11, "10", "41 42 10 03 10"}, {12, "10", ""}}, {},
       {.framesSent = 1, .refusals = 1}},
      {"no DLE to our STX: refused after the acknowledgement time-out", send("AB", 1),
       {{0, "", "02"}, {1999, "", ""}, {2000, "", ""}}, {}, {.refusals = 1, .dropped = 1}},
      {"NAK to our frame", send("AB", 1), {{0, "10", "02 41 42 10 03 10"}, {1, "15", ""}}, {},
       {.refusals = 1, .dropped = 1}},
      {"conflict: both send STX, the server's NAK refuses ours", send("AB", 2),
       {{0, "02", "02"}, {1, "15", ""}, {11, "", "02"}, {12, "10", "41 42 10 03 10"}, {13, "10", ""}}, {},
       {.framesSent = 1, .refusals = 1, .conflicts = 1}},
      {"STX instead of the DLE to our frame: we take the server's frame", send("AB", 1),
       {{0, "10", "02 41 42 10 03 10"}, {1, "02", "10"}, {2, "10 03 13", "10"}}, {""},
       {.framesReceived = 1, .refusals = 1, .dropped = 1}},
      {"frames go one after the other",
       [](Line3964R& l) {
         l.Send("A", 1, milliseconds(0));
         l.Send("B", 1, milliseconds(0));
       },
       {{0, "10", "02 41 10 03 52"}, {1, "10", "02"}, {2, "10", "42 10 03 51"}, {3, "10", ""}}, {},
       {.framesSent = 2}},
      {"the server's STX comes first: its frame, then ours",
       nullptr,
       {{0, "02", "10"}, {5, "10 03 13", "10 02", "A"}, {6, "10", "41 10 03 52"}, {7, "10", ""}}, {""},
       {.framesReceived = 1, .framesSent = 1}},
  });
}

TEST(Line3964R, SpoiledFramesOfOurOwn) {
  RunCases({
      {"wrong block check byte",
       [](Line3964R& l) {
         l.ArmSpoil(Spoil::BadBcc);
         l.Send("AB", 1, milliseconds(0));
       },
       {{0, "10", "02 41 42 10 03 11"}, {1, "15", ""}}, {}, {.refusals = 1, .dropped = 1}},
      {"gap inside the frame; what came meanwhile counts after it",
       [](Line3964R& l) {
         l.SetGap(milliseconds(250));
         l.ArmSpoil(Spoil::Gap);
         l.Send("ABCD", 1, milliseconds(0));
       },
       {{0, "10", "02 41 42"}, {100, "15", ""}, {249, "", ""}, {250, "", "43 44 10 03 17"}}, {},
       {.refusals = 1, .dropped = 1}},
      {"the spoil is used once",
       [](Line3964R& l) {
         l.ArmSpoil(Spoil::BadBcc);
         l.Send("A", 1, milliseconds(0));
         l.Send("A", 1, milliseconds(0));
       },
       {{0, "10", "02 41 10 03 53"}, {1, "10", "02"}, {2, "10", "41 10 03 52"}, {3, "10", ""}}, {},
       {.framesSent = 2}},
  });
}

TEST(Line3964R, ResetForgetsEverything) {
  Line3964R line;
  line.ArmStxReply(Reply::Nak);
  line.Send("AB", 3, milliseconds(0));
  line.Receive(Hex("02"), milliseconds(0));  // a conflict half-way
  line.Reset();
  EXPECT_EQ(line.TakeOutput(), "");
  EXPECT_TRUE(line.Idle());
  EXPECT_EQ(line.NextDeadline(), kNever);
  line.Receive(Hex("02"), milliseconds(1));
  EXPECT_EQ(ToHex(line.TakeOutput()), "10");
}

TEST(Line3964R, NextDeadlineFollowsTheState) {
  Line3964R line;
  EXPECT_EQ(line.NextDeadline(), kNever);
  line.Send("A", 1, milliseconds(0));
  EXPECT_EQ(line.NextDeadline(), DefaultTiming().ackTimeout);
  line.Receive(Hex("10"), milliseconds(3));
  EXPECT_EQ(line.NextDeadline(), milliseconds(3) + DefaultTiming().ackTimeout);
  line.Receive(Hex("10 02"), milliseconds(4));
  EXPECT_EQ(line.NextDeadline(), milliseconds(4) + DefaultTiming().charTimeout);
}

}  // namespace
}  // namespace radiosim
