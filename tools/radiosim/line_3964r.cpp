#include "tools/radiosim/line_3964r.h"

#include <algorithm>

#include "tools/radiosim/checksums.h"

namespace radiosim {

namespace {
// Longer frames are refused: nothing the server sends comes near it.
constexpr size_t kMaxFrame = 1024;
}  // namespace

template <class T>
T Line3964R::Next(std::deque<T>& armed, T otherwise) {
  if (armed.empty()) return otherwise;
  T t = armed.front();
  armed.pop_front();
  return t;
}

std::string Line3964R::Frame(std::string_view telegram) {
  std::string f;
  f.reserve(telegram.size() + 8);
  for (char c : telegram) {
    f += c;
    if (c == kDLE) f += kDLE;
  }
  f += kDLE;
  f += kETX;
  f += char(BlockCheck(f));
  return f;
}

void Line3964R::Receive(std::string_view bytes, Duration now) {
  Advance(now);
  for (char b : bytes) OnByte(b, now);
  Advance(now);
}

void Line3964R::OnByte(char b, Duration now) {
  switch (state_) {
    case State::Idle:
      OnIdleByte(b, now);
      return;
    case State::Receiving:
      OnFrameByte(b, now);
      return;
    case State::AwaitStxAck:
      if (b == kDLE) {
        SendBody(now);
      } else if (b == kSTX) {
        // Both sides started at once; the server refuses ours with NAK, which ends the attempt.
        ++stats_.conflicts;
      } else {
        Refused(now);
      }
      return;
    case State::InGap:
      held_ += b;
      return;
    case State::AwaitFrameAck:
      if (b == kDLE) {
        ++stats_.framesSent;
        sent_.push_back(std::move(queue_.front().telegram));
        queue_.pop_front();
        state_ = State::Idle;
        deadline_ = kNever;
        return;
      }
      Refused(now);
      // An STX here means the server has given up on our frame and sends its own.
      if (b == kSTX) OnIdleByte(b, now);
      return;
    case State::CollisionWait:
      state_ = State::Idle;
      deadline_ = kNever;
      if (b != kNAK) OnIdleByte(b, now);
      return;
  }
}

void Line3964R::OnIdleByte(char b, Duration now) {
  if (b != kSTX) {
    ++stats_.stray;
    return;
  }
  switch (Next(stx_replies_, Reply::Normal)) {
    case Reply::Normal:
      out_ += kDLE;
      state_ = State::Receiving;
      rx_.clear();
      afterDle_ = wantBcc_ = malformed_ = false;
      deadline_ = now + timing_.charTimeout;
      return;
    case Reply::Lost:
      return;
    case Reply::Nak:
      out_ += kNAK;
      return;
    case Reply::Foreign:
      out_ += kForeign;
      return;
    case Reply::Collision:
      out_ += kSTX;
      state_ = State::CollisionWait;
      deadline_ = now + timing_.ackTimeout;
      return;
  }
}

void Line3964R::OnFrameByte(char b, Duration now) {
  rx_ += b;
  deadline_ = now + timing_.charTimeout;
  if (wantBcc_) {
    FrameComplete();
    return;
  }
  if (afterDle_) {
    afterDle_ = false;
    if (b == kETX)
      wantBcc_ = true;
    else if (b != kDLE)
      malformed_ = true;
  } else if (b == kDLE) {
    afterDle_ = true;
  }
  if (rx_.size() > kMaxFrame) {
    ++stats_.badFrames;
    out_ += kNAK;
    state_ = State::Idle;
    deadline_ = kNever;
  }
}

void Line3964R::FrameComplete() {
  state_ = State::Idle;
  deadline_ = kNever;
  const std::string_view body(rx_.data(), rx_.size() - 1);
  if (malformed_ || BlockCheck(body) != uint8_t(rx_.back())) {
    ++stats_.badFrames;
    out_ += kNAK;
    return;
  }
  std::string tel;
  const size_t dataEnd = rx_.size() - 3;  // DLE ETX BCC
  for (size_t i = 0; i < dataEnd; ++i) {
    tel += rx_[i];
    if (rx_[i] == kDLE) ++i;  // the pair stands for one DLE
  }
  switch (Next(frame_replies_, Reply::Normal)) {
    case Reply::Normal:
      out_ += kDLE;
      break;
    case Reply::Lost:
      break;
    case Reply::Nak:
      out_ += kNAK;
      return;
    case Reply::Foreign:
    case Reply::Collision:
      out_ += kForeign;
      return;
  }
  ++stats_.framesReceived;
  telegrams_.push_back(std::move(tel));
}

void Line3964R::Send(std::string telegram, int attempts, Duration now) {
  queue_.push_back({std::move(telegram), std::max(1, attempts), now});
  Advance(now);
}

void Line3964R::StartSend(Duration now) {
  out_ += kSTX;
  state_ = State::AwaitStxAck;
  deadline_ = now + timing_.ackTimeout;
}

void Line3964R::SendBody(Duration now) {
  std::string frame = Frame(queue_.front().telegram);
  const bool spoiled = !spoils_.empty();
  const Spoil spoil = Next(spoils_, Spoil::BadBcc);
  if (spoiled && spoil == Spoil::Gap) {
    const size_t half = std::max<size_t>(1, (frame.size() - 3) / 2);
    out_ += frame.substr(0, half);
    rest_ = frame.substr(half);
    held_.clear();
    state_ = State::InGap;
    deadline_ = now + timing_.gap;
    return;
  }
  if (spoiled) frame.back() = char(frame.back() ^ 0x01);
  out_ += frame;
  state_ = State::AwaitFrameAck;
  deadline_ = now + timing_.ackTimeout;
}

void Line3964R::Refused(Duration now) {
  ++stats_.refusals;
  Outgoing& o = queue_.front();
  if (--o.attemptsLeft > 0) {
    o.notBefore = now + timing_.retryPause;
  } else {
    ++stats_.dropped;
    queue_.pop_front();
  }
  state_ = State::Idle;
  deadline_ = kNever;
}

bool Line3964R::Step(Duration now) {
  if (state_ == State::Idle) {
    if (noise_ > 0) {
      --noise_;
      out_ += kForeign;
      return true;
    }
    if (!queue_.empty() && queue_.front().notBefore <= now) {
      StartSend(now);
      return true;
    }
    return false;
  }
  if (now < deadline_) return false;
  switch (state_) {
    case State::Receiving:
      // The textbook answer to a frame that stops: refuse it.
      ++stats_.charTimeouts;
      out_ += kNAK;
      state_ = State::Idle;
      deadline_ = kNever;
      return true;
    case State::AwaitStxAck:
    case State::AwaitFrameAck:
      Refused(now);
      return true;
    case State::InGap: {
      out_ += rest_;
      rest_.clear();
      state_ = State::AwaitFrameAck;
      deadline_ = now + timing_.ackTimeout;
      std::string held;
      held.swap(held_);
      for (char b : held) OnByte(b, now);
      return true;
    }
    case State::CollisionWait:
      state_ = State::Idle;
      deadline_ = kNever;
      return true;
    case State::Idle:
      break;
  }
  return false;
}

void Line3964R::Advance(Duration now) {
  while (Step(now)) {
  }
}

Duration Line3964R::NextDeadline() const {
  if (state_ != State::Idle) return deadline_;
  if (noise_ > 0) return Duration::min();
  if (!queue_.empty()) return queue_.front().notBefore;
  return kNever;
}

std::string Line3964R::TakeOutput() {
  std::string o;
  o.swap(out_);
  return o;
}

std::vector<std::string> Line3964R::TakeTelegrams() {
  std::vector<std::string> t;
  t.swap(telegrams_);
  return t;
}

std::vector<std::string> Line3964R::TakeSent() {
  std::vector<std::string> t;
  t.swap(sent_);
  return t;
}

void Line3964R::Reset() {
  state_ = State::Idle;
  deadline_ = kNever;
  out_.clear();
  telegrams_.clear();
  sent_.clear();
  queue_.clear();
  rx_.clear();
  rest_.clear();
  held_.clear();
  stx_replies_.clear();
  frame_replies_.clear();
  spoils_.clear();
  noise_ = 0;
}

}  // namespace radiosim
