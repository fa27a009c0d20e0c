// One typical exchange with an outstation: the request of an input poll (status word, two
// words of binary inputs and six analog inputs: 9 registers) with the outputs written, built
// and framed; then the station's answer taken from its line bytes, checked and worked into the
// register image.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/clock.h"
#include "server/driver/custom_funk.h"
#include "server/driver/fml.h"
#include "server/driver/frame3964.h"

namespace {

using namespace driver;

std::string AnswerLine() {
  std::string answer("\xE0\x00\x05\x00\x00\x00\x01\x09", 8);
  const uint16_t words[9] = {0, 0x8001, 0x1010, 0x0123, 0x0456, 0x0789, 0x0ABC, 0x0DEF, 0x0FFF};
  for (uint16_t w : words) {
    answer += char(w >> 8);
    answer += char(w & 0xFF);
  }
  return BuildFrame(answer);
}

class Network {
 public:
  Network() {
    FML = std::make_unique<TFML>();
    const int counts[2][6] = {{3, 0, 0, 0, 0, 56}, {13, 6, 32, 1, 8, 36}};
    for (int s = 0; s < 2; ++s) {
      auto st = std::make_unique<TFuMo>();
      st->AdrPath = std::string(s == 0 ? "\0\0\0\0" : "\x05\0\0\0", 4);
      for (int g = 0; g < kGroupCount; ++g)
        for (int i = 0; i < counts[s][g]; ++i) st->AddWert(g, TWert{});
      FML->Add(std::move(st));
    }
    funk = std::make_unique<TCustomFunk>(TCustomFunk::PortFactory{}, clock);
    funk->DOfs = 9;
  }
  ~Network() {
    funk.reset();
    FML.reset();
  }

  void Request() {
    TAnfrage& a = funk->Anfrage;
    a.AF = kAfStation;
    a.US = 1;
    a.GetKl = 1;
    a.GetStart = -1;
    a.GetAnz = 9;
    a.PutKl = 2;
    a.PutStart = 0;
    a.PutAnz = 2;
  }

  platform::ManualClock clock;
  std::unique_ptr<TCustomFunk> funk;
};

void Exchange(benchmark::State& state) {
  Network net;
  const std::string line = AnswerLine();
  for (auto _ : state) {
    net.Request();
    net.funk->ErzeugeTel();
    std::string frame = BuildFrame(net.funk->Anfrage.Tel);
    benchmark::DoNotOptimize(frame);

    TFrameBody body;
    for (char b : line)
      if (!body.Add(b)) break;
    TFrameCheck check = CheckFrame(body.Data());
    net.funk->Anfrage.EmpfTel = body.Data();
    net.funk->Anfrage.Antwort = std::move(check.answer);
    bool ok = net.funk->VerarbeiteAntwortTelegramm(net.funk->Anfrage, true);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(Exchange);

// The line procedure's share alone: framing the request, reading and checking the answer.
void FramingOnly(benchmark::State& state) {
  Network net;
  net.Request();
  net.funk->ErzeugeTel();
  const std::string tel = net.funk->Anfrage.Tel;
  const std::string line = AnswerLine();
  for (auto _ : state) {
    std::string frame = BuildFrame(tel);
    benchmark::DoNotOptimize(frame);
    TFrameBody body;
    for (char b : line)
      if (!body.Add(b)) break;
    TFrameCheck check = CheckFrame(body.Data());
    benchmark::DoNotOptimize(check);
  }
}
BENCHMARK(FramingOnly);

}  // namespace
