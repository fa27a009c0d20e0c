// radio-sim: the central radio modem and the network behind it, on a pty (or a serial
// device) for the server to talk to. One thread: poll() on the port, the control lines on
// stdin and the signals, with the modem's next deadline as the time-out.
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "tools/radiosim/control.h"
#include "tools/radiosim/modem.h"
#include "tools/radiosim/network.h"
#include "tools/radiosim/pacer.h"
#include "tools/radiosim/port.h"

namespace radiosim {
namespace {

using std::chrono::milliseconds;

constexpr size_t kMaxCommand = 4096;

const char kUsage[] =
    "Usage: radio-sim [options]\n"
    "Plays the central radio modem and the stations of the network that Ostrel.INI describes,\n"
    "speaking 3964R on the master side of a pty pair (or on a serial device). When it can be\n"
    "talked to it prints one line \"ready PATH\" on stdout, PATH being the port to give the\n"
    "server (the link when --link is given, else the pty's slave). SIGTERM, SIGINT or \"quit\"\n"
    "stop it.\n"
    "\n"
    "Options:\n"
    "  --ini DIR             folder of Ostrel.INI (and Ostrel.PAR), read as the server reads them\n"
    "                        (default: the current folder)\n"
    "  --link PATH           keep a symbolic link PATH to the pty's slave, renewed by open-port\n"
    "  --device PATH         use this serial device instead of a pty\n"
    "  --line BAUD[,FRAME]   a pty: pace the bytes as such a line carries them (FRAME like 8E1,\n"
    "                        default 8N1: 9600,8E1 is 11 bits, 1.146 ms a character);\n"
    "                        a device: set it to this rate and frame\n"
    "  --radio-delay MS      radio time per hop from request to answer (default 150, 0 = at once)\n"
    "  --relay-delay MS      binary outputs switch this long after a write (default 0)\n"
    "  --up-delay MS         after start and after \"back\" the radio layer reports 0 this long\n"
    "                        (default 0)\n"
    "  --slot MS             length of a time slot after \"*W1\" (default 4000)\n"
    "  --slot-pause MS       pause before and between slots (default 1000)\n"
    "  --slot-number N       the slot's digit in \"*Z\" messages, 0..9 (default 1)\n"
    "  --analog-period MS    analog inputs run up and down in this time (default 60000; 0 = still)\n"
    "  --gap MS              the pause of the \"gap\" fault (default: the INI's TIMEOUT + 100)\n"
    "  --silent STATION      this station never answers (repeatable)\n"
    "  --empty STATION       the modem sends empty answers for this station (repeatable)\n"
    "  --plan FILE           fault plan: lines \"N command\", run when the N-th telegram came in\n"
    "  --verbose             trace the bytes on the line to stderr\n"
    "  --help                this text\n"
    "\n";

struct Settings {
  std::string ini = ".";
  std::string link;
  std::string device;
  int baud = 0;
  std::string frame = "8N1";
  ModemOptions modem;
  int64_t gapMs = -1;
  std::vector<std::string> silent, empty;
  std::string plan;
  bool verbose = false;
};

bool ToInt(const char* text, int64_t lo, int64_t hi, int64_t& v) {
  const char* end = text + std::strlen(text);
  auto [p, ec] = std::from_chars(text, end, v);
  return ec == std::errc() && p == end && v >= lo && v <= hi;
}

// Parses the command line; returns -1 to go on, else the exit code.
int Parse(int argc, char** argv, Settings& s) {
  enum { kIni = 1, kLink, kDevice, kLine, kRadio, kRelay, kUp, kSlot, kPause, kNumber, kAnalog, kGap, kSilent,
         kEmpty, kPlan, kVerbose, kHelp };
  static const option longOptions[] = {
      {"ini", required_argument, nullptr, kIni},           {"link", required_argument, nullptr, kLink},
      {"device", required_argument, nullptr, kDevice},     {"line", required_argument, nullptr, kLine},
      {"radio-delay", required_argument, nullptr, kRadio}, {"relay-delay", required_argument, nullptr, kRelay},
      {"up-delay", required_argument, nullptr, kUp},       {"slot", required_argument, nullptr, kSlot},
      {"slot-pause", required_argument, nullptr, kPause},  {"slot-number", required_argument, nullptr, kNumber},
      {"analog-period", required_argument, nullptr, kAnalog}, {"gap", required_argument, nullptr, kGap},
      {"silent", required_argument, nullptr, kSilent},     {"empty", required_argument, nullptr, kEmpty},
      {"plan", required_argument, nullptr, kPlan},         {"verbose", no_argument, nullptr, kVerbose},
      {"help", no_argument, nullptr, kHelp},               {nullptr, 0, nullptr, 0}};
  constexpr int64_t kDay = 86'400'000;
  for (int c; (c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1;) {
    int64_t v = 0;
    auto ms = [&](Duration& d) {
      if (!ToInt(optarg, 0, kDay, v)) return false;
      d = milliseconds(v);
      return true;
    };
    bool ok = true;
    switch (c) {
      case kIni: s.ini = optarg; break;
      case kLink: s.link = optarg; break;
      case kDevice: s.device = optarg; break;
      case kLine: {
        std::string text = optarg;
        const size_t comma = text.find(',');
        if (comma != std::string::npos) s.frame = text.substr(comma + 1);
        ok = ToInt(text.substr(0, comma).c_str(), 50, 4'000'000, v) && BitsPerChar(s.frame) > 0;
        s.baud = int(v);
        break;
      }
      case kRadio: ok = ms(s.modem.radioDelay); break;
      case kRelay: ok = ms(s.modem.model.relayDelay); break;
      case kUp: ok = ms(s.modem.upDelay); break;
      case kSlot: ok = ms(s.modem.slotLength); break;
      case kPause: ok = ms(s.modem.slotPause); break;
      case kNumber: ok = ToInt(optarg, 0, 9, v); s.modem.slotNumber = int(v); break;
      case kAnalog: ok = ms(s.modem.model.analogPeriod); break;
      case kGap: ok = ToInt(optarg, 0, kDay, s.gapMs); break;
      case kSilent: s.silent.push_back(optarg); break;
      case kEmpty: s.empty.push_back(optarg); break;
      case kPlan: s.plan = optarg; break;
      case kVerbose: s.verbose = true; break;
      case kHelp: std::fputs(kUsage, stdout); std::fputs(kCommandHelp, stdout); return 0;
      default: std::fputs(kUsage, stderr); return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "radio-sim: bad value for --%s: %s\n", longOptions[c - 1].name, optarg);
      return 2;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "radio-sim: unexpected argument: %s\n", argv[optind]);
    return 2;
  }
  return -1;
}

Duration Now() { return std::chrono::steady_clock::now().time_since_epoch(); }

class Program final : public PortControl {
 public:
  Program(Settings s, Modem& modem) : s_(std::move(s)), modem_(modem) {
    if (s_.device.empty() && s_.baud > 0) pacer_ = Pacer(s_.baud, BitsPerChar(s_.frame));
  }

  std::string OpenPort(std::string& path) override {
    if (port_) return "the port is open";
    std::string error;
    port_ = s_.device.empty() ? Port::OpenPty(error) : Port::OpenDevice(s_.device, s_.baud, s_.frame, error);
    if (!port_) return error;
    if (!s_.link.empty() && s_.device.empty() && !PointLink(s_.link, port_->Path(), error)) {
      port_.reset();
      return error;
    }
    path = port_->Path();
    return {};
  }

  std::string ClosePort() override {
    if (!port_) return "the port is closed";
    port_.reset();
    if (!s_.link.empty() && s_.device.empty()) RemoveLink(s_.link);
    pending_.clear();
    pacer_.Clear();
    modem_.PortClosed();
    return {};
  }

  int Run(std::vector<PlanEntry> plan);

 private:
  void Trace(const char* dir, const std::string& bytes, Duration now) {
    if (!s_.verbose || bytes.empty()) return;
    std::string hex;
    for (char c : bytes) {
      char b[4];
      std::snprintf(b, sizeof b, "%02X ", unsigned(uint8_t(c)));
      hex += b;
    }
    std::fprintf(stderr, "%10.3f %s %s\n", double(now.count()) / 1e6, dir, hex.c_str());
  }
  bool Command(const std::string& line, Duration now) {
    CommandResult r = RunCommand(line, modem_, this, now);
    std::printf("%s\n", r.reply.c_str());
    std::fflush(stdout);
    return r.quit;
  }
  void PortFailed(const char* what) {
    std::fprintf(stderr, "radio-sim: %s of %s failed: %s; the port is closed\n", what, port_->Path().c_str(),
                 std::strerror(errno));
    ClosePort();
  }

  Settings s_;
  Modem& modem_;
  std::unique_ptr<Port> port_;
  Pacer pacer_;
  std::string pending_;  // bytes for the port that it did not take yet
};

int Program::Run(std::vector<PlanEntry> plan) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  const int sigFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  ::signal(SIGPIPE, SIG_IGN);

  std::string path;
  if (std::string error = OpenPort(path); !error.empty()) {
    std::fprintf(stderr, "radio-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("ready %s\n", s_.link.empty() || !s_.device.empty() ? path.c_str() : s_.link.c_str());
  std::fflush(stdout);

  bool stdinOpen = true, quit = false;
  std::string input;
  while (!quit) {
    Duration now = Now();
    const Duration deadline = std::min(modem_.NextDeadline(), pacer_.NextDeadline());
    timespec wait{};
    timespec* waitPtr = nullptr;
    if (deadline != kNever) {
      const Duration left = std::max(Duration(0), std::min(deadline - now, Duration(std::chrono::seconds(1))));
      wait.tv_sec = time_t(left.count() / 1'000'000'000);
      wait.tv_nsec = long(left.count() % 1'000'000'000);
      waitPtr = &wait;
    }
    pollfd fds[3] = {{sigFd, POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}, {port_ ? port_->Fd() : -1, POLLIN, 0}};
    if (!pending_.empty()) fds[2].events |= POLLOUT;
    if (::ppoll(fds, 3, waitPtr, nullptr) < 0 && errno != EINTR) {
      std::perror("radio-sim: ppoll");
      return 1;
    }
    now = Now();
    if (fds[0].revents & POLLIN) break;
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[1024];
      const ssize_t n = ::read(0, buf, sizeof buf);
      if (n <= 0) {
        stdinOpen = n < 0 && (errno == EINTR || errno == EAGAIN);  // end of input: keep running
      } else {
        input.append(buf, size_t(n));
        for (size_t eol; !quit && (eol = input.find('\n')) != std::string::npos;) {
          std::string line = input.substr(0, eol);
          input.erase(0, eol + 1);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          if (line.find_first_not_of(" \t") != std::string::npos) quit = Command(line, now);
        }
        if (input.size() > kMaxCommand) {
          input.clear();
          std::printf("error line too long\n");
          std::fflush(stdout);
        }
      }
    }
    if (port_ && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
      std::string bytes;
      if (port_->Read(bytes)) {
        pacer_.FromServer(bytes, now);
      } else {
        pacer_.FromServer(bytes, now);
        PortFailed("reading");
      }
    }
    if (const std::string in = pacer_.ToModem(now); !in.empty()) {
      Trace("<-", in, now);
      modem_.Receive(in, now);
      for (const std::string& cmd : TakeDue(plan, modem_.Stats().telegrams)) {
        std::fprintf(stderr, "radio-sim: plan: %s\n", cmd.c_str());
        const CommandResult r = RunCommand(cmd, modem_, this, now);
        if (r.reply.rfind("ok", 0) != 0) std::fprintf(stderr, "radio-sim: plan: %s\n", r.reply.c_str());
        quit = quit || r.quit;
      }
    }
    modem_.Advance(now);
    const std::string out = modem_.TakeOutput();
    if (port_) {
      pacer_.FromModem(out, now);
      const std::string due = pacer_.ToServer(now);
      Trace("->", due, now);
      pending_ += due;
      if (!pending_.empty() && !port_->Write(pending_)) PortFailed("writing");
    }
  }
  if (port_) ClosePort();
  return 0;
}

int Main(int argc, char** argv) {
  Settings s;
  if (const int rc = Parse(argc, argv, s); rc >= 0) return rc;
  Network net;
  std::string error;
  if (!LoadNetwork(s.ini, net, error)) {
    std::fprintf(stderr, "radio-sim: %s\n", error.c_str());
    return 1;
  }
  std::vector<PlanEntry> plan;
  if (!s.plan.empty()) {
    std::ifstream in(s.plan, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.is_open()) error = "cannot read " + s.plan;
    if (!error.empty() || !ParsePlan(text, plan, error)) {
      std::fprintf(stderr, "radio-sim: %s\n", error.c_str());
      return 1;
    }
  }
  s.modem.line.gap = milliseconds(s.gapMs >= 0 ? s.gapMs : net.timeoutMs + 100);
  Modem modem(net, s.modem, platform::DefaultClock(), Now());
  for (auto [list, failure] : {std::pair{&s.silent, Failure::Silent}, std::pair{&s.empty, Failure::Empty}}) {
    for (const std::string& key : *list) {
      StationModel* st = modem.FindStation(key);
      if (!st) {
        std::fprintf(stderr, "radio-sim: no station %s in %s\n", key.c_str(), s.ini.c_str());
        return 2;
      }
      st->failure = failure;
    }
  }
  Program program(std::move(s), modem);
  return program.Run(std::move(plan));
}

}  // namespace
}  // namespace radiosim

int main(int argc, char** argv) { return radiosim::Main(argc, argv); }
