// The request record: one exchange with the central radio modem or, through it, with an
// outstation, from the telegram sent to the answer received; and the tables of the request
// classes (1 inputs, 2 outputs, 3 radio-modem parameters).
#pragma once

#include <array>
#include <cstdint>
#include <string>

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

// Where the registers of request class kl (0..3, else std::out_of_range) lie at a station.
struct TClassLayout {
  int32_t bin;       // binary group, -1 none
  int32_t ana;       // analog group, -1 none
  int32_t bits;      // registers of the binary group
  int32_t words;     // class registers below this are binary words, the rest analog
  int32_t firstWord; // word 0 of the class is group-0 word register firstWord + 5 (outputs follow inputs)
};
TClassLayout ClassLayout(const TFuMo& st, int32_t kl);

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
