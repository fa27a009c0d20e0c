#include "tools/radiosim/modem.h"

#include <algorithm>
#include <ctime>
#include <strings.h>

namespace radiosim {

namespace {

// Parameters of the central modem by index.
constexpr int kFunkLayer = 0, kIdReg = 6, kVersionReg = 7, kSlotsReg = 44, kDcfStatus = 49, kDcfTime1 = 53;
constexpr int kSlotAttempts = 3;  // the modem's own messages must get through; answers go once
constexpr size_t kGarbledByte = 6;  // low byte of the Get register in the answer header

uint16_t Bcd(int v) { return uint16_t((v / 10 % 10) << 4 | (v % 10)); }
uint16_t BcdPair(int hi, int lo) { return uint16_t(Bcd(hi) << 8 | Bcd(lo)); }

}  // namespace

Modem::Modem(const Network& net, ModemOptions options, platform::Clock& wallClock, Duration now)
    : options_(options), wall_(wallClock), line_(options.line), upAt_(now + options.upDelay) {
  central_ = std::make_unique<StationModel>(net.central, options.model);
  StationModel& c = *central_;
  c.Set(kParams, kIdReg, kId);
  c.Set(kParams, kVersionReg, kVersion);
  c.Set(kParams, kSlotsReg, uint16_t(options.slotNumber));
  c.Set(kParams, kDcfStatus, 1);
  for (const StationShape& s : net.stations) stations_.push_back(std::make_unique<StationModel>(s, options.model));
}

void Modem::Receive(std::string_view bytes, Duration now) {
  if (silent_) return;
  Advance(now);
  // Byte by byte, so that the server's acknowledgement of a slot message and a request that
  // follows it are seen in their order.
  for (size_t i = 0; i < bytes.size(); ++i) {
    line_.Receive(bytes.substr(i, 1), now);
    for (const std::string& sent : line_.TakeSent())
      if (sent.size() == 4 && sent.compare(0, 2, "*Z") == 0) serverSlot_ = sent[3] == '1';
    for (const std::string& tel : line_.TakeTelegrams()) OnTelegram(tel, now);
  }
  Advance(now);
}

void Modem::OnTelegram(const std::string& tel, Duration now) {
  ++stats_.telegrams;
  if (tel == kModeMessage) {
    ++stats_.modeMessages;
    // Passive time-slot mode from now on: the version first, the first slot after a pause.
    line_.Send(VersionMessage(kVersion, kId), kSlotAttempts, now);
    slot_ = SlotState::Pause;
    serverSlot_ = false;
    slotDue_ = now + options_.slotPause;
    return;
  }
  ParseError why = ParseError::None;
  std::optional<Request> r = ParseRequest(tel, &why);
  if (!r) {
    ++(why == ParseError::Crc ? stats_.crcErrors : stats_.badTelegrams);
    return;
  }
  ++stats_.requests;
  if (r->crc) ++stats_.crcRequests;
  if (slot_ != SlotState::Off && !serverSlot_ && !r->ToCentralModem()) ++stats_.outsideSlot;
  if (r->ToCentralModem()) {
    ++stats_.centralQueries;
    Answer({now, std::move(*r), nullptr}, now);
    return;
  }
  StationModel* st = StationAt(r->path);
  if (!st) {
    ++stats_.unknownStations;
    return;
  }
  const Duration due = now + options_.radioDelay * r->Hops();
  auto at = std::upper_bound(inFlight_.begin(), inFlight_.end(), due,
                             [](Duration d, const InFlight& f) { return d < f.due; });
  inFlight_.insert(at, InFlight{due, std::move(*r), st});
}

StationModel* Modem::StationAt(const std::array<uint8_t, 4>& path) {
  for (auto& s : stations_)
    if (s->Shape().path == path) return s.get();
  return nullptr;
}

void Modem::WriteRegisters(StationModel& st, const Request& r, Duration now) {
  const RegRange put = r.Put();
  for (int i = 0; i < put.count; ++i) {
    if (st.Write(put.cls, put.start + i, r.putData[size_t(i)], now))
      ++stats_.writes;
    else
      ++stats_.outOfRange;
  }
}

std::vector<uint16_t> Modem::ReadStation(StationModel& st, RegRange get, Duration now) {
  std::vector<uint16_t> words;
  for (int i = 0; i < get.count; ++i) {
    std::optional<uint16_t> v = st.Read(get.cls, get.start + i, now);
    if (!v) ++stats_.outOfRange;
    words.push_back(v.value_or(0));
  }
  return words;
}

std::vector<uint16_t> Modem::ReadCentral(RegRange get, Duration now) {
  std::vector<uint16_t> words = ReadStation(*central_, get, now);
  if (get.cls != kParams) return words;
  std::tm t{};
  const std::time_t secs = std::chrono::system_clock::to_time_t(wall_.Now());
  localtime_r(&secs, &t);
  const uint16_t dcf[3] = {BcdPair(t.tm_year + 1900 - 2000, t.tm_mon + 1), BcdPair(t.tm_mday, t.tm_hour),
                           BcdPair(t.tm_min, t.tm_sec)};
  for (int i = 0; i < get.count; ++i) {
    const int reg = get.start + i;
    if (reg >= central_->Size(kParams)) continue;
    if (reg == kFunkLayer) words[size_t(i)] = now >= upAt_ ? 1 : 0;
    if (reg >= kDcfTime1 && reg < kDcfTime1 + 3) words[size_t(i)] = dcf[reg - kDcfTime1];
  }
  return words;
}

std::vector<uint16_t> Modem::CentralRegisters(Duration now) {
  const ModemStats keep = stats_;  // a look from the control channel is no exchange
  std::vector<uint16_t> words = ReadCentral({kParams, 0, central_->Size(kParams)}, now);
  stats_ = keep;
  return words;
}

void Modem::Answer(const InFlight& f, Duration now) {
  if (!f.station) {
    WriteRegisters(*central_, f.request, now);
    ++stats_.answers;
    line_.Send(EncodeAnswer(f.request, ReadCentral(f.request.Get(), now)), 1, now);
    return;
  }
  StationModel& st = *f.station;
  if (st.failure == Failure::Silent) return;
  if (st.failure == Failure::Empty) {
    ++stats_.emptyAnswers;
    line_.Send(EncodeEmptyAnswer(f.request), 1, now);
    return;
  }
  // The station carries out the write first, so a read in the same telegram sees it.
  WriteRegisters(st, f.request, now);
  std::string answer = EncodeAnswer(f.request, ReadStation(st, f.request.Get(), now));
  if (garble_ > 0) {
    --garble_;
    answer[kGarbledByte] = char(answer[kGarbledByte] ^ 0x01);
  }
  ++stats_.answers;
  line_.Send(std::move(answer), 1, now);
}

void Modem::Advance(Duration now) {
  if (silent_) return;
  while (!inFlight_.empty() && inFlight_.front().due <= now) {
    InFlight f = std::move(inFlight_.front());
    inFlight_.erase(inFlight_.begin());
    Answer(f, now);
  }
  if (slot_ != SlotState::Off && slotDue_ <= now) {
    const bool open = slot_ == SlotState::Pause;
    line_.Send(SlotMessage(options_.slotNumber, open), kSlotAttempts, now);
    if (open) ++stats_.slots;
    slot_ = open ? SlotState::Open : SlotState::Pause;
    slotDue_ = now + (open ? options_.slotLength : options_.slotPause);
  }
  line_.Advance(now);
}

Duration Modem::NextDeadline() const {
  if (silent_) return kNever;
  Duration d = line_.NextDeadline();
  if (!inFlight_.empty()) d = std::min(d, inFlight_.front().due);
  if (slot_ != SlotState::Off) d = std::min(d, slotDue_);
  return d;
}

void Modem::GoSilent() {
  serverSlot_ = false;
  silent_ = true;
  line_.Reset();
  inFlight_.clear();
  slot_ = SlotState::Off;
}

void Modem::ComeBack(Duration now) {
  serverSlot_ = false;
  silent_ = false;
  line_.Reset();
  inFlight_.clear();
  slot_ = SlotState::Off;
  upAt_ = now + options_.upDelay;
}

void Modem::PortClosed() {
  line_.Reset();
  inFlight_.clear();
}

StationModel* Modem::FindStation(std::string_view key) {
  if (!key.empty() && key.size() < 6 && std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const size_t index = std::stoul(std::string(key));
    return index >= 1 && index <= stations_.size() ? stations_[index - 1].get() : nullptr;
  }
  for (auto& s : stations_)
    if (s->Shape().name.size() == key.size() && strncasecmp(s->Shape().name.c_str(), key.data(), key.size()) == 0)
      return s.get();
  return nullptr;
}

}  // namespace radiosim
