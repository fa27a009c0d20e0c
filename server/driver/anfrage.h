// The request record: one exchange with the central radio modem or, through it, with an
// outstation, from the telegram sent to the answer received; and the tables of the request
// classes (1 inputs, 2 outputs, 3 radio-modem parameters).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "server/driver/frame3964.h"

namespace driver {

class TFuMo;

// Request states (AF).
inline constexpr int32_t kAfNone = 0;
inline constexpr int32_t kAfModeMessage = 2;  // "*W1", no answer expected
inline constexpr int32_t kAfZfmQuery = 3;     // central-modem parameter query
inline constexpr int32_t kAfStation = 4;      // station request

// Per request class 0..3: binary group, analog group and register base of the telegram.
// The register space of a class is its binary group packed 16 bits to a word, then its
// analog group; register -1 of class 1 is the station's status word.
inline constexpr std::array<int32_t, 4> BinGroup{-1, 2, 4, -1};
inline constexpr std::array<int32_t, 4> AnaGroup{-1, 1, 3, 5};
inline constexpr std::array<int32_t, 4> RegBase{0, 2, 300, 900};

// Register words one request carries (Put) and one answer frame holds (Get). A telegram and a
// received frame hold 255 bytes with room for the two CRC bytes: the request's header takes 11,
// the answer's 8 and the frame's closing DLE ETX and block check byte 3 more.
inline constexpr int32_t kMaxPutWords = (int32_t(kMaxTelegram) - 2 - 11) / 2;
inline constexpr int32_t kMaxGetWords = (int32_t(kMaxTelegram) - 3 - 2 - 8) / 2;

// A class's registers that one request reads or writes: first and count.
struct TRange {
  int32_t first = 0;
  int32_t count = 0;
};

// The part of a range of count registers that begins done registers in, when one request holds
// at most max of them: parts of equal size (the last one smaller), so that every part's answer
// takes about the same time. done outside the range, or not at a part's start, begins anew.
struct TPart {
  int32_t done = 0;   // registers of the range before this part
  int32_t count = 0;  // registers of this part
  int32_t next = 0;   // done of the part after it; 0 after the last
};
TPart PartOf(int32_t count, int32_t done, int32_t max);

// Where the registers of request class kl (0..3, else std::out_of_range) lie at a station.
struct TClassLayout {
  int32_t bin;       // binary group, -1 none
  int32_t ana;       // analog group, -1 none
  int32_t bits;      // registers of the binary group
  int32_t words;     // class registers below this are binary words, the rest analog
  int32_t firstWord; // word 0 of the class is group-0 word register firstWord + 5 (outputs follow inputs)
};
TClassLayout ClassLayout(const TFuMo& st, int32_t kl);

// The Get range of class kl as the scheduler reads it whole: inputs from the status word (-1)
// on, of the parameters only the last SYSREGCOUNT.
TRange GetRangeOf(const TFuMo& st, int32_t kl);
// The whole class, as class 2 is written with every input poll.
TRange ClassRangeOf(const TFuMo& st, int32_t kl);

// Index of the lowest register of the group with a write pending, -1 when none. The caller
// holds RegisterLock (either side).
int32_t FirstPendingWrite(const TFuMo& st, int32_t group);

struct TAnfrage {
  int32_t AF = kAfNone;
  int32_t TOindex = 0;  // time-out class of the request
  int32_t TO = 0;       // answer time-out, ms
  int32_t US = 0;       // station index, 0 = central modem
  int32_t PutKl = 0, PutStart = 0, PutAnz = 0;
  int32_t GetKl = 0, GetStart = 0, GetAnz = 0;
  std::string Tel;      // telegram to send, at most 255 bytes
  std::string Antwort;  // answer payload, at most 255 bytes
  std::string EmpfTel;  // last good frame as it came from the line, for hex dumps
  int32_t SendeErg = 0;
  int32_t LeseErg = 0;
  uint32_t SendeTick = 0;  // tick when the send began, 0 after a failed send
  uint32_t AntwortMs = 0;  // send to answer, 0 when none was measured
};

}  // namespace driver
