// Cost of one exchange of a 1-byte ping over a pty pair: the port writes a byte, an echo thread
// on the other side sends it back, the port reads it. The same exchange on the bare descriptor
// (write, poll, read) shows what the component adds to the pty's own round trip.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "serial/com_port.h"

namespace {

// The other side of the pty: sends back every byte it gets until it reads 0xFF.
class Echo {
 public:
  Echo() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    grantpt(master_);
    unlockpt(master_);
    char name[128] = {};
    ptsname_r(master_, name, sizeof name);
    slave_ = name;
    thread_ = std::thread([this] {
      char c;
      while (read(master_, &c, 1) == 1 && c != '\xFF') {
        if (write(master_, &c, 1) != 1) break;
      }
    });
  }
  ~Echo() {
    if (thread_.joinable()) thread_.join();
    close(master_);
  }
  const std::string& SlavePath() const { return slave_; }

 private:
  int master_;
  std::string slave_;
  std::thread thread_;
};

void BM_PortPing(benchmark::State& state) {
  Echo echo;
  serial::TComPort port;
  port.SetPort(echo.SlavePath());
  port.SetBaudRate(serial::br115200);
  port.Timeouts().SetReadTotalConstant(1000);
  port.Open();
  char out = 'p', in = 0;
  for (auto _ : state) {
    if (port.Write(&out, 1) != 1 || port.Read(&in, 1) != 1) state.SkipWithError("ping lost");
  }
  char stop = '\xFF';
  port.Write(&stop, 1);
}
BENCHMARK(BM_PortPing)->Repetitions(9)->ReportAggregatesOnly(true)->UseRealTime();

void BM_BareDescriptorPing(benchmark::State& state) {
  Echo echo;
  serial::TComPort port;  // programs the line the same way, then steps aside
  port.SetPort(echo.SlavePath());
  port.SetBaudRate(serial::br115200);
  port.Open();
  const int fd = port.DeviceHandle();
  char out = 'p', in = 0;
  for (auto _ : state) {
    bool ok = write(fd, &out, 1) == 1;
    pollfd p{fd, POLLIN, 0};
    ok = ok && poll(&p, 1, 1000) == 1 && read(fd, &in, 1) == 1;
    if (!ok) state.SkipWithError("ping lost");
  }
  char stop = '\xFF';
  [[maybe_unused]] ssize_t n = write(fd, &stop, 1);
}
BENCHMARK(BM_BareDescriptorPing)->Repetitions(9)->ReportAggregatesOnly(true)->UseRealTime();

}  // namespace
