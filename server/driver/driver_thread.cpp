#include "server/driver/driver_thread.h"

#include <exception>

#include "platform/clock.h"
#include "server/driver/error_codes.h"
#include "server/driver/mop_loop.h"
#include "server/driver/options.h"
#include "server/driver/thread_priority.h"
#include "server/driver/utilities.h"
#include "support/error_log.h"
#include "support/log_text.h"

namespace driver {

TDriverThread::~TDriverThread() { TerminateAndWait(); }

void TDriverThread::Resume() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Execute(); });
}

void TDriverThread::Terminate() {
  {
    std::lock_guard lock(mutex_);
    terminated_ = true;
  }
  wake_.notify_all();
  WakeUp();
}

void TDriverThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

bool TDriverThread::WaitForTerminate(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return wake_.wait_for(lock, timeout, [this] { return terminated_.load(); });
}

void TDriverThread::TerminateAndWait() {
  Terminate();
  WaitFor();
}

namespace {

// MODUS 0 has nothing to do on the line; its listening pass runs this often.
constexpr std::chrono::milliseconds kListenPause{1000};

struct CreateTexts {
  int32_t flag;  // trace flag of the lines
  const char* start;
  const char* end;
  const char* exception;  // followed by "-$" + code or by the message
  int32_t fallback;       // code of an exception that carries none
};

// Creation of a driver thread: any failure is logged and recorded in FatalErrorCode, and
// nothing is left behind.
template <class Thread, class Make>
std::unique_ptr<Thread> CreateThread(const Make& make, const CreateTexts& t) {
  try {
    if (support::TestDbgFlag(t.flag)) WriteLog(t.start);
    auto thread = make();
    if (support::TestDbgFlag(t.flag)) WriteLog(t.end);
    return thread;
  } catch (const ECustomFunk& e) {
    RecordFatalError(e.Code);
    WriteLog(std::string(t.exception) + "-$" + support::Hex2(uint32_t(-int64_t(e.Code)) & 0xFF) + ", " + e.what());
  } catch (const std::exception& e) {
    RecordFatalError(t.fallback);
    WriteLog(std::string(t.exception) + e.what());
  }
  return nullptr;
}

// The protocol object on its port, initialised; Init's error code raised as Error.
template <class Error>
std::unique_ptr<TCustomFunk> OpenFunk(const TCustomFunk::PortFactory* factory, platform::Clock* clock,
                                      bool is3964r) {
  auto funk = factory ? std::make_unique<TCustomFunk>(*factory, *clock) : std::make_unique<TCustomFunk>();
  if (const int32_t code = funk->Init(is3964r)) throw Error(code);
  funk->AktFM = 0;
  return funk;
}

}  // namespace

// --- tMOP ---

std::unique_ptr<tMOP> tMOP::Make(const TCustomFunk::PortFactory* factory, platform::Clock* clock) {
  return CreateThread<tMOP>(
      [&] {
        std::unique_ptr<tMOP> t(new tMOP);
        t->funk_ = OpenFunk<E3964R>(factory, clock, Options.MODUS == 2);
        return t;
      },
      {128, "3964R: Create", "3964R: Create ENDE", "3964R: Create, Exception=", kErrMopThreadInit});
}

std::unique_ptr<tMOP> tMOP::Create() { return Make(nullptr, nullptr); }

std::unique_ptr<tMOP> tMOP::Create(const TCustomFunk::PortFactory& factory, platform::Clock& clock) {
  return Make(&factory, &clock);
}

tMOP::~tMOP() {
  TerminateAndWait();
  if (support::TestDbgFlag(128)) WriteLog("3964R: Destroy");
}

void tMOP::Execute() {
  RaiseToTimeCritical();
  TMopLoop(*funk_, [this] { return Terminated(); }).WorkLoop();
}

void tMOP::WakeUp() {
  if (funk_) funk_->Stop();  // none when its creation failed
}

// --- TModbus ---

std::unique_ptr<TModbus> TModbus::Make(const TCustomFunk::PortFactory* factory, platform::Clock* clock) {
  return CreateThread<TModbus>(
      [&] {
        std::unique_ptr<TModbus> t(new TModbus);
        t->funk_ = OpenFunk<EModbus>(factory, clock, false);
        return t;
      },
      {4, "Modbus: Create START", "Modbus: Create ENDE", "Modbus: Create, Exception=", kErrModbusInit});
}

std::unique_ptr<TModbus> TModbus::Create() { return Make(nullptr, nullptr); }

std::unique_ptr<TModbus> TModbus::Create(const TCustomFunk::PortFactory& factory, platform::Clock& clock) {
  return Make(&factory, &clock);
}

TModbus::~TModbus() { TerminateAndWait(); }

void TModbus::ListenToRS232() {
  if (support::TestDbgFlag(4)) WriteLog("Modbus: ListenToRS232 START");
  if (support::TestDbgFlag(4)) WriteLog("Modbus: ListenToRS232 ENDE");
}

void TModbus::Execute() {
  while (!Terminated()) {
    sync_.Run(serial::MainThreadDispatcher(), [this] { ListenToRS232(); });
    // Without a pause the loop would spin: there is nothing on the line to wait for.
    WaitForTerminate(kListenPause);
  }
}

void TModbus::WakeUp() { sync_.Cancel(); }

}  // namespace driver
