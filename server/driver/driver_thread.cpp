#include "server/driver/driver_thread.h"

#include <exception>

#include "server/driver/error_codes.h"
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
}

void TDriverThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TDriverThread::WaitForTerminate() {
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return terminated_.load(); });
}

void TDriverThread::TerminateAndWait() {
  Terminate();
  WaitFor();
}

namespace {

struct CreateTexts {
  int32_t flag;  // trace flag of the lines
  const char* start;
  const char* end;
  const char* exception;  // followed by "-$" + code or by the message
  int32_t fallback;       // code of an exception that carries none
};

// Creation of a driver thread: any failure is logged and recorded in FatalErrorCode, and
// nothing is left behind.
template <class Thread>
std::unique_ptr<Thread> CreateThread(std::unique_ptr<Thread> (*make)(), const CreateTexts& t) {
  try {
    if (support::TestDbgFlag(t.flag)) WriteLog(t.start);
    auto thread = make();
    if (support::TestDbgFlag(t.flag)) WriteLog(t.end);
    return thread;
  } catch (const ECustomFunk& e) {
    FatalErrorCode = e.Code;
    WriteLog(std::string(t.exception) + "-$" + support::Hex2(uint32_t(-int64_t(e.Code)) & 0xFF) + ", " + e.what());
  } catch (const std::exception& e) {
    FatalErrorCode = t.fallback;
    WriteLog(std::string(t.exception) + e.what());
  }
  return nullptr;
}

}  // namespace

// The protocol object is created and its port opened where the two make functions below stand:
// the driver-thread work fills them in (TCustomFunk.Create and Init, raising E3964R or EModbus
// with Init's code), together with the two Execute bodies. Until then neither thread touches
// the line.

std::unique_ptr<tMOP> tMOP::Create() {
  return CreateThread<tMOP>(
      [] { return std::unique_ptr<tMOP>(new tMOP); },
      {128, "3964R: Create", "3964R: Create ENDE", "3964R: Create, Exception=", kErrMopThreadInit});
}

tMOP::~tMOP() {
  TerminateAndWait();
  if (support::TestDbgFlag(128)) WriteLog("3964R: Destroy");
}

void tMOP::Execute() { WaitForTerminate(); }

std::unique_ptr<TModbus> TModbus::Create() {
  return CreateThread<TModbus>(
      [] { return std::unique_ptr<TModbus>(new TModbus); },
      {4, "Modbus: Create START", "Modbus: Create ENDE", "Modbus: Create, Exception=", kErrModbusInit});
}

TModbus::~TModbus() { TerminateAndWait(); }

void TModbus::Execute() { WaitForTerminate(); }

}  // namespace driver
