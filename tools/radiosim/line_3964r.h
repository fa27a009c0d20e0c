// The partner side of the 3964R line procedure, as the central radio modem speaks it to the
// server: it answers the server's STX with DLE, receives and checks the frame and acknowledges
// it with DLE or NAK; it sends frames of its own (STX, wait for DLE, frame, wait for DLE).
// Free of I/O: bytes and time go in, bytes and received telegrams come out. The fault plan
// spoils single replies and frames on purpose.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace radiosim {

// Time on a monotonic clock since an arbitrary start.
using Duration = std::chrono::nanoseconds;
inline constexpr Duration kNever = Duration::max();

inline constexpr char kSTX = 0x02;
inline constexpr char kETX = 0x03;
inline constexpr char kDLE = 0x10;
inline constexpr char kNAK = 0x15;
// What the fault plan puts on the line in place of a handshake byte.
inline constexpr char kForeign = 0x55;

// How the next STX or the next frame of the server is answered.
enum class Reply {
  Normal,     // DLE
  Lost,       // nothing goes back; a frame is still taken (only its acknowledgement is lost)
  Nak,        // NAK; a frame is thrown away
  Foreign,    // a byte that is neither DLE nor NAK; a frame is thrown away
  Collision,  // STX, as if we had started to send at the same moment (STX only)
};

// How the next frame of our own is spoiled.
enum class Spoil {
  BadBcc,  // wrong block check byte
  Gap,     // a pause in the middle of the frame
};

struct LineStats {
  int64_t framesReceived = 0;  // good frames taken from the server
  int64_t badFrames = 0;       // frames refused with NAK for a wrong block check or a stray DLE
  int64_t charTimeouts = 0;    // frames of the server that stopped in the middle
  int64_t framesSent = 0;      // frames of ours acknowledged with DLE
  int64_t refusals = 0;        // attempts of ours that got no DLE
  int64_t dropped = 0;         // frames of ours given up after their last attempt
  int64_t conflicts = 0;       // STX from the server while we waited for DLE after our STX
  int64_t stray = 0;           // bytes outside any exchange
};

class Line3964R {
 public:
  struct Timing {
    Duration ackTimeout = std::chrono::milliseconds(2000);  // DLE after our STX or frame
    Duration charTimeout = std::chrono::milliseconds(220);  // pause that ends a frame we receive
    Duration retryPause = std::chrono::milliseconds(10);    // before another attempt
    Duration gap = std::chrono::milliseconds(250);          // the Spoil::Gap pause
  };

  Line3964R() : Line3964R(Timing{}) {}
  explicit Line3964R(Timing timing) : timing_(timing) {}

  // Bytes from the server in the order they arrived.
  void Receive(std::string_view bytes, Duration now);
  // Runs the timers that are due: acknowledgement waits, character pauses, gaps, retries.
  void Advance(Duration now);
  // Queues a telegram to send; attempts counts the tries in all (at least 1).
  void Send(std::string telegram, int attempts, Duration now);

  // Bytes to put on the line since the last call.
  std::string TakeOutput();
  // Telegrams of the good frames received since the last call (DLE pairs undone).
  std::vector<std::string> TakeTelegrams();
  // Telegrams of ours that the server acknowledged since the last call.
  std::vector<std::string> TakeSent();
  // When Advance has something to do next; kNever when nothing waits.
  Duration NextDeadline() const;
  bool Idle() const { return state_ == State::Idle && queue_.empty(); }
  // Forgets every exchange, queued frame and armed fault (port closed, modem powered up).
  void Reset();

  // Fault plan: each armed entry is used once, in the order armed.
  void ArmStxReply(Reply r) { stx_replies_.push_back(r); }
  void ArmFrameReply(Reply r) { frame_replies_.push_back(r); }
  void ArmSpoil(Spoil s) { spoils_.push_back(s); }
  // A foreign byte, sent as soon as the line is free.
  void ArmNoise() { ++noise_; }
  void SetGap(Duration gap) { timing_.gap = gap; }

  const LineStats& Stats() const { return stats_; }
  const Timing& GetTiming() const { return timing_; }

  // The bytes of a frame for a telegram: DLE doubled, then DLE, ETX and the block check byte.
  static std::string Frame(std::string_view telegram);

 private:
  enum class State {
    Idle,
    Receiving,      // after our DLE to the server's STX
    AwaitStxAck,    // our STX is out
    InGap,          // part of our frame is out, the rest follows after the gap
    AwaitFrameAck,  // our frame is out
    CollisionWait,  // we answered STX with STX; the server's NAK ends it
  };
  struct Outgoing {
    std::string telegram;
    int attemptsLeft;
    Duration notBefore;
  };

  void OnByte(char b, Duration now);
  void OnIdleByte(char b, Duration now);
  void OnFrameByte(char b, Duration now);
  void FrameComplete();
  void StartSend(Duration now);
  void SendBody(Duration now);
  void Refused(Duration now);
  bool Step(Duration now);  // one due timer; true when something happened
  template <class T>
  static T Next(std::deque<T>& armed, T otherwise);

  Timing timing_;
  State state_ = State::Idle;
  Duration deadline_ = kNever;
  std::string out_;
  std::vector<std::string> telegrams_;
  std::vector<std::string> sent_;
  std::deque<Outgoing> queue_;
  std::string rx_;  // the server's frame as it came, doubled DLEs included
  bool afterDle_ = false;
  bool wantBcc_ = false;
  bool malformed_ = false;  // a DLE followed by neither DLE nor ETX
  std::string rest_;        // the part of our frame held back by a gap
  std::string held_;        // bytes that came in during a gap
  std::deque<Reply> stx_replies_, frame_replies_;
  std::deque<Spoil> spoils_;
  int noise_ = 0;
  LineStats stats_;
};

}  // namespace radiosim
