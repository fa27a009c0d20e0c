#include "tools/radiosim/control.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace radiosim {

const char kCommandHelp[] =
    "Control commands (one per line on stdin; each gets one reply line, \"ok ...\" or \"error ...\"):\n"
    "  silent                      the central modem goes silent (modem lost)\n"
    "  back                        it comes back: powers up, radio layer up after --up-delay,\n"
    "                              time slots again after the next \"*W1\"\n"
    "  close-port                  the port vanishes (pty closed, link removed)\n"
    "  open-port                   it returns (new pty, link renewed); replies the slave path\n"
    "  fault KIND [TIMES]          spoils the next TIMES occasions (default 1); KIND is one of\n"
    "                              lost-dle-stx lost-dle-frame  no DLE to the server's STX / frame\n"
    "                                                           (a frame is still taken)\n"
    "                              nak-stx nak-frame            NAK instead of DLE\n"
    "                              foreign-stx foreign-frame    a foreign byte (0x55) instead of DLE\n"
    "                              collision                    STX in reply to the server's STX\n"
    "                              noise                        a foreign byte on the idle line\n"
    "                              bad-bcc                      wrong block check byte in our frame\n"
    "                              gap                          a pause of --gap ms inside our frame\n"
    "                              garble                       a damaged header in a station's answer\n"
    "  jump STATION ANALOG [VALUE] analog input ANALOG (from 0) jumps to VALUE and stays\n"
    "                              (default: 8192 above its value)\n"
    "  station STATION ok|silent|empty   how the station answers\n"
    "  set STATION CLASS REG VALUE set a register (class 1 inputs from -1, the status word;\n"
    "                              2 outputs; 3 parameters); an analog input stops moving\n"
    "  regs STATION CLASS          the registers of a class in decimal (inputs: status word first)\n"
    "  stats                       counters as name=value (outside-slot: station requests in\n"
    "                              time-slot mode while the server held no slot)\n"
    "  help                        this list\n"
    "  quit                        stops the simulator\n"
    "STATION is the index in the station list (1..), 0 for the central modem, or a station name.\n";

namespace {

std::vector<std::string> Words(std::string_view line) {
  std::istringstream in{std::string(line)};
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

bool ToInt(const std::string& s, int64_t& v) {
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, v);
  return ec == std::errc() && p == end;
}

CommandResult Ok(std::string text = {}) { return {text.empty() ? "ok" : "ok " + text, false}; }
CommandResult Error(std::string text) { return {"error " + text, false}; }

StationModel* Station(Modem& modem, const std::string& key) {
  return key == "0" ? &modem.Central() : modem.FindStation(key);
}

CommandResult Fault(Modem& modem, const std::vector<std::string>& w) {
  int64_t times = 1;
  if (w.size() < 2 || w.size() > 3) return Error("usage: fault KIND [TIMES]");
  if (w.size() == 3 && (!ToInt(w[2], times) || times < 1 || times > 1000)) return Error("bad count: " + w[2]);
  Line3964R& line = modem.Line();
  const std::string& kind = w[1];
  for (int64_t i = 0; i < times; ++i) {
    if (kind == "lost-dle-stx") line.ArmStxReply(Reply::Lost);
    else if (kind == "lost-dle-frame") line.ArmFrameReply(Reply::Lost);
    else if (kind == "nak-stx") line.ArmStxReply(Reply::Nak);
    else if (kind == "nak-frame") line.ArmFrameReply(Reply::Nak);
    else if (kind == "foreign-stx") line.ArmStxReply(Reply::Foreign);
    else if (kind == "foreign-frame") line.ArmFrameReply(Reply::Foreign);
    else if (kind == "collision") line.ArmStxReply(Reply::Collision);
    else if (kind == "noise") line.ArmNoise();
    else if (kind == "bad-bcc") line.ArmSpoil(Spoil::BadBcc);
    else if (kind == "gap") line.ArmSpoil(Spoil::Gap);
    else if (kind == "garble") modem.ArmGarble(1);
    else return Error("unknown fault: " + kind);
  }
  return Ok();
}

CommandResult Jump(Modem& modem, const std::vector<std::string>& w, Duration now) {
  if (w.size() < 3 || w.size() > 4) return Error("usage: jump STATION ANALOG [VALUE]");
  StationModel* st = Station(modem, w[1]);
  if (!st) return Error("no station " + w[1]);
  int64_t analog = 0, value = 0;
  if (!ToInt(w[2], analog) || analog < 0 || analog >= st->Shape().analogInputs)
    return Error("no analog input " + w[2]);
  const int reg = st->BinaryWords(kInputs) + int(analog);
  if (w.size() == 4) {
    if (!ToInt(w[3], value) || value < 0 || value > 0xFFFF) return Error("bad value: " + w[3]);
  } else {
    value = std::min<int64_t>(0xFFFF, *st->Read(kInputs, reg, now) + 8192);
  }
  st->Set(kInputs, reg, uint16_t(value));
  return Ok(std::to_string(value));
}

CommandResult SetRegister(Modem& modem, const std::vector<std::string>& w) {
  if (w.size() != 5) return Error("usage: set STATION CLASS REG VALUE");
  StationModel* st = Station(modem, w[1]);
  if (!st) return Error("no station " + w[1]);
  int64_t cls = 0, reg = 0, value = 0;
  if (!ToInt(w[2], cls) || cls < 1 || cls > 3) return Error("bad class: " + w[2]);
  if (!ToInt(w[3], reg) || reg < -1 || reg > 0xFFFF) return Error("bad register: " + w[3]);
  if (!ToInt(w[4], value) || value < -32768 || value > 0xFFFF) return Error("bad value: " + w[4]);
  if (!st->Set(int(cls), int(reg), uint16_t(value))) return Error("no register " + w[3] + " in class " + w[2]);
  return Ok();
}

CommandResult Registers(Modem& modem, const std::vector<std::string>& w, Duration now) {
  if (w.size() != 3) return Error("usage: regs STATION CLASS");
  StationModel* st = Station(modem, w[1]);
  if (!st) return Error("no station " + w[1]);
  int64_t cls = 0;
  if (!ToInt(w[2], cls) || cls < 1 || cls > 3) return Error("bad class: " + w[2]);
  const std::vector<uint16_t> regs = st == &modem.Central() && cls == kParams ? modem.CentralRegisters(now)
                                                                              : st->Registers(int(cls), now);
  std::string text;
  for (uint16_t v : regs) text += (text.empty() ? "" : " ") + std::to_string(v);
  return {regs.empty() ? "ok" : "ok " + text, false};
}

CommandResult StationFailure(Modem& modem, const std::vector<std::string>& w) {
  if (w.size() != 3) return Error("usage: station STATION ok|silent|empty");
  StationModel* st = modem.FindStation(w[1]);
  if (!st) return Error("no station " + w[1]);
  if (w[2] == "ok") st->failure = Failure::None;
  else if (w[2] == "silent") st->failure = Failure::Silent;
  else if (w[2] == "empty") st->failure = Failure::Empty;
  else return Error("usage: station STATION ok|silent|empty");
  return Ok();
}

CommandResult Stats(Modem& modem) {
  const ModemStats& m = modem.Stats();
  const LineStats& l = modem.Line().Stats();
  std::ostringstream o;
  o << "telegrams=" << m.telegrams << " requests=" << m.requests << " crc-requests=" << m.crcRequests
    << " central-queries=" << m.centralQueries << " answers=" << m.answers << " empty-answers=" << m.emptyAnswers
    << " mode-messages=" << m.modeMessages << " slots=" << m.slots << " writes=" << m.writes
    << " bad-telegrams=" << m.badTelegrams << " crc-errors=" << m.crcErrors
    << " unknown-stations=" << m.unknownStations << " out-of-range=" << m.outOfRange << " outside-slot=" << m.outsideSlot
    << " frames-received=" << l.framesReceived << " bad-frames=" << l.badFrames
    << " char-timeouts=" << l.charTimeouts << " frames-sent=" << l.framesSent << " refusals=" << l.refusals
    << " dropped=" << l.dropped << " conflicts=" << l.conflicts << " stray=" << l.stray
    << " silent=" << (modem.Silent() ? 1 : 0) << " time-slots=" << (modem.TimeSlotMode() ? 1 : 0)
    << " slot-open=" << (modem.SlotOpen() ? 1 : 0) << " server-in-slot=" << (modem.ServerInSlot() ? 1 : 0);
  return Ok(o.str());
}

}  // namespace

CommandResult RunCommand(std::string_view line, Modem& modem, PortControl* port, Duration now) {
  const std::vector<std::string> w = Words(line);
  if (w.empty()) return Error("empty command");
  const std::string& cmd = w[0];
  CommandResult r;
  if (cmd == "silent") {
    modem.GoSilent();
    r = Ok();
  } else if (cmd == "back") {
    modem.ComeBack(now);
    r = Ok();
  } else if (cmd == "close-port" || cmd == "open-port") {
    if (!port) return Error("no port to control");
    std::string path;
    const std::string why = cmd == "close-port" ? port->ClosePort() : port->OpenPort(path);
    r = why.empty() ? Ok(path) : Error(why);
  } else if (cmd == "fault") {
    r = Fault(modem, w);
  } else if (cmd == "jump") {
    r = Jump(modem, w, now);
  } else if (cmd == "station") {
    r = StationFailure(modem, w);
  } else if (cmd == "set") {
    r = SetRegister(modem, w);
  } else if (cmd == "regs") {
    r = Registers(modem, w, now);
  } else if (cmd == "stats") {
    r = Stats(modem);
  } else if (cmd == "help") {
    r = Ok("commands: silent back close-port open-port fault jump station set regs stats help quit");
  } else if (cmd == "quit") {
    r = Ok();
    r.quit = true;
  } else {
    return Error("unknown command: " + cmd);
  }
  modem.Advance(now);
  return r;
}

bool ParsePlan(std::string_view text, std::vector<PlanEntry>& plan, std::string& error) {
  std::istringstream in{std::string(text)};
  int lineNo = 0;
  for (std::string line; std::getline(in, line);) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const size_t space = line.find_first_of(" \t", first);
    int64_t n = 0;
    const std::string number = line.substr(first, space == std::string::npos ? std::string::npos : space - first);
    const size_t rest = space == std::string::npos ? std::string::npos : line.find_first_not_of(" \t", space);
    if (!ToInt(number, n) || n < 0 || rest == std::string::npos) {
      error = "plan line " + std::to_string(lineNo) + ": expected \"N command\": " + line;
      return false;
    }
    plan.push_back({n, line.substr(rest)});
  }
  std::stable_sort(plan.begin(), plan.end(),
                   [](const PlanEntry& a, const PlanEntry& b) { return a.telegram < b.telegram; });
  return true;
}

std::vector<std::string> TakeDue(std::vector<PlanEntry>& plan, int64_t telegrams) {
  std::vector<std::string> due;
  auto end = std::find_if(plan.begin(), plan.end(), [&](const PlanEntry& e) { return e.telegram > telegrams; });
  for (auto it = plan.begin(); it != end; ++it) due.push_back(it->command);
  plan.erase(plan.begin(), end);
  return due;
}

}  // namespace radiosim
