// The setting enumerations and status sets of the serial port component, and the records it
// hands to its device layer: the device-control record, the time-outs and the numeric flags of
// the status calls. The numbers are the ones the original platform functions take, so that the
// mapping of every setting stays checkable against them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace serial {

// Ordinal values from 0, in this order; stored files and combo boxes rely on the order.
enum TBaudRate : uint8_t {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
  br56000, br57600, br115200, br128000, br256000
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : uint8_t {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };
enum TComError : uint8_t { errFrame, errRxParity, errOverrun, errBreak, errIO, errMode, errRxOver, errTxFull };
enum TModemSignal : uint8_t { msCTS, msDSR, msRing, msRLSD };

inline constexpr int kBaudRateCount = 16;
inline constexpr int kComEventCount = 10;

// A set of enumeration values, one bit per ordinal (bit 0 = ordinal 0).
template <class E, class Bits>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }
  static constexpr EnumSet FromBits(Bits bits) {
    EnumSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr void Include(E v) { bits_ = Bits(bits_ | Bit(v)); }
  constexpr void Exclude(E v) { bits_ = Bits(bits_ & ~Bit(v)); }
  constexpr bool operator==(const EnumSet&) const = default;

 private:
  static constexpr Bits Bit(E v) { return Bits(Bits(1) << unsigned(v)); }
  Bits bits_ = 0;
};

using TComEvents = EnumSet<TComEvent, uint16_t>;
using TComErrors = EnumSet<TComError, uint8_t>;
using TModemSignals = EnumSet<TModemSignal, uint8_t>;

inline constexpr TComEvents kAllComEvents{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                          evCTS,    evDSR,     evError,  evRLSD, evRx80Full};

// The device-control record that ApplyLineSettings builds field by field.
struct TDeviceControl {
  uint32_t Length = 0;  // 28
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;  // kDcb* bits below
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;  // 5..8
  uint8_t Parity = 0;    // 0..4: none, odd, even, mark, space
  uint8_t StopBits = 0;  // 0, 1, 2: one, one and a half, two
  uint8_t XonChar = 0;
  uint8_t XoffChar = 0;
  uint8_t ErrorChar = 0;
  uint8_t EofChar = 0;
  uint8_t EvtChar = 0;
  bool operator==(const TDeviceControl&) const = default;
};

inline constexpr uint32_t kDeviceControlLength = 28;
inline constexpr uint32_t kDcbBinary = 1u << 0;
inline constexpr uint32_t kDcbParity = 1u << 1;  // parity check
inline constexpr uint32_t kDcbOutxCtsFlow = 1u << 2;
inline constexpr uint32_t kDcbOutxDsrFlow = 1u << 3;
inline constexpr unsigned kDcbDtrControlShift = 4;  // 2 bits
inline constexpr uint32_t kDcbDsrSensitivity = 1u << 6;
inline constexpr uint32_t kDcbTxContinueOnXoff = 1u << 7;
inline constexpr uint32_t kDcbOutX = 1u << 8;
inline constexpr uint32_t kDcbInX = 1u << 9;
inline constexpr uint32_t kDcbErrorChar = 1u << 10;
inline constexpr uint32_t kDcbNull = 1u << 11;  // discard null bytes
inline constexpr unsigned kDcbRtsControlShift = 12;  // 2 bits
inline constexpr uint32_t kDcbAbortOnError = 1u << 14;

inline constexpr uint32_t DcbDtrControl(uint32_t flags) { return (flags >> kDcbDtrControlShift) & 3u; }
inline constexpr uint32_t DcbRtsControl(uint32_t flags) { return (flags >> kDcbRtsControlShift) & 3u; }

// Time-outs in ms as the device layer takes them; kMaxDword is the all-ones value (-1).
inline constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
struct TCommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
  bool operator==(const TCommTimeouts&) const = default;
};

// Raw line-error flags of the clear-error call (ReadErrorFlags).
inline constexpr uint32_t kCeRxOver = 1;
inline constexpr uint32_t kCeOverrun = 2;
inline constexpr uint32_t kCeRxParity = 4;
inline constexpr uint32_t kCeFrame = 8;
inline constexpr uint32_t kCeBreak = 16;
inline constexpr uint32_t kCeTxFull = 256;
inline constexpr uint32_t kCeIO = 1024;
inline constexpr uint32_t kCeMode = 32768;

// Modem status bits (ReadLineSignals).
inline constexpr uint32_t kMsCtsOn = 16;
inline constexpr uint32_t kMsDsrOn = 32;
inline constexpr uint32_t kMsRingOn = 64;
inline constexpr uint32_t kMsRlsdOn = 128;

// Escape functions for the modem lines.
inline constexpr uint32_t kSetRts = 3;
inline constexpr uint32_t kClrRts = 4;
inline constexpr uint32_t kSetDtr = 5;
inline constexpr uint32_t kClrDtr = 6;

// Purge flags.
inline constexpr uint32_t kPurgeTxAbort = 1;
inline constexpr uint32_t kPurgeRxAbort = 2;
inline constexpr uint32_t kPurgeTxClear = 4;
inline constexpr uint32_t kPurgeRxClear = 8;

// Event mask bits of the event wait.
inline constexpr uint32_t kEvRxChar = 1;
inline constexpr uint32_t kEvRxFlag = 2;
inline constexpr uint32_t kEvTxEmpty = 4;
inline constexpr uint32_t kEvCts = 8;
inline constexpr uint32_t kEvDsr = 16;
inline constexpr uint32_t kEvRlsd = 32;
inline constexpr uint32_t kEvBreak = 64;
inline constexpr uint32_t kEvErr = 128;
inline constexpr uint32_t kEvRing = 256;
inline constexpr uint32_t kEvRx80Full = 1024;

// Conversions between TComEvents and the event mask, in both directions.
uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(uint32_t mask);
// The mask bit of one event (kEvRxChar for evRxChar, ...).
uint32_t EventMaskBit(TComEvent event);

}  // namespace serial
