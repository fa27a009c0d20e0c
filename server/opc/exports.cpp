// The server's life for the host: the start-up record at load, the configuration at
// SOXpSInitialize, the driver thread at SOXpSStart, and the teardown at SOXpSStop.
#include "server/opc/exports.h"

#include <exception>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "platform/cp1252.h"
#include "platform/no_destroy.h"
#include "server/driver/config_loader.h"
#include "server/driver/error_codes.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"
#include "server/opc/debug_window.h"
#include "server/opc/log_codes.h"
#include "support/error_log.h"
#include "support/log_text.h"

namespace opc {

namespace {

using driver::WriteLog;
using platform::toolkit::TServerInitData;

constexpr int32_t kHostTraceLevels = 0x10000003;
constexpr const char* kServerName = "Qar OPC DA Server for Radiomodems";

constinit TServerInitData init_data{};
constinit platform::NoDestroy<std::string> trace_file1_storage;
constinit platform::NoDestroy<std::string> trace_file2_storage;
constinit std::string& trace_file1 = trace_file1_storage.value;
constinit std::string& trace_file2 = trace_file2_storage.value;
constinit bool init_data_filled = false;

constinit platform::NoDestroy<std::unique_ptr<driver::TDriverThread>> thread_storage;
constinit std::unique_ptr<driver::TDriverThread>& treiber_thread = thread_storage.value;
constinit void* debug_window = nullptr;
// Lives as long as the library: the window may read it until it has closed.
constinit platform::NoDestroy<TDriverDebugSource> debug_source_storage;
constinit TDriverDebugSource& debug_source = debug_source_storage.value;

std::unique_ptr<driver::TDriverThread> MakeDriverThread(int32_t modus) {
  if (modus == 0) return driver::TModbus::Create();
  if (modus == 1 || modus == 2) return driver::tMOP::Create();
  return nullptr;
}
constinit DriverThreadFactory thread_factory = MakeDriverThread;

void FillServerInitData() {
  if (init_data_filled) return;
  init_data_filled = true;
  TServerInitData& d = init_data;
  d = TServerInitData{};
  d.ClassId = *platform::com::GuidFromString(driver::kServerClsid);
  d.ProgId = "Qar.OPC_DA_Server_RM.1";
  d.VersionIndependentProgId = "Qar.OPC_DA_Server_RM";
  d.ServerName = kServerName;
  d.UpdateRate = 2000;
  d.ExtraText1 = d.ExtraText2 = d.ExtraText3 = "";
  d.MajorVersion = 1;
  d.MinorVersion = 1;
  d.BuildNumber = 0;
  d.VendorInfo = "Qar OPC DA Server V070226";
  d.DebugMode = support::Log()->Debug() ? 1 : 0;
  d.Description = kServerName;
  d.Flags = 101;
  d.ExtraText4 = d.ExtraText5 = d.ExtraText6 = "";
  trace_file1 = driver::ServerDir + "PROBLEM8.txt";
  trace_file2 = driver::ServerDir + "PROBLEM9.txt";
  d.TraceFile1 = trace_file1.c_str();
  d.TraceFile2 = trace_file2.c_str();
  d.TraceFileSize = 50000;
  d.TraceLevel1 = 0;
  d.TraceLevel2 = 0;
}

// The thread, the window and the station list, in this order; logs what it frees.
void FreeAll(bool log) {
  if (treiber_thread) {
    treiber_thread->Terminate();
    treiber_thread->WaitFor();
    // The window may still refresh until it is closed below; it must not read the protocol
    // object that is freed now.
    debug_source.SetProtocol(nullptr);
    if (log) WriteLog("SOXpSStop: Terminate TreiberThread OK");
    treiber_thread.reset();
    if (log) WriteLog("SOXpSStop: Free TreiberThread OK");
  }
  if (debug_window) {
    CloseDebugWindow(debug_window);
    debug_window = nullptr;
  }
  std::unique_ptr<driver::TFML> fml;
  {
    // Taken out under the lock: a request still in flight then finds no station list.
    std::unique_lock lock(driver::RegisterLock);
    fml = std::move(driver::FML);
  }
  if (fml) {
    fml.reset();
    if (log) WriteLog("SOXpSStop: Free FML (inkl. aller FuMo) OK");
  }
}

void ReportFailure() {
  const int32_t code = driver::FatalErrorCode;
  // The user is told the cause: the first error, not what later steps recorded because of it.
  driver::TFatalError shown = driver::FirstFatalError();
  if (shown.Code == 0) shown = {code, driver::FailItemName()};
  std::string text = driver::GetErrorMsg(shown.Code);
  if (!shown.Item.empty()) text += "\r" + shown.Item;
  const std::string box = "OPC-Server could not be started!\r" + text;
  // Without a display the box returns at once; its text then goes to the log as well.
  if (!QarMessageBox("Error", box.c_str())) WriteLog(box);
  WriteLog("SOXpSStart: FALSE; FatalError=-$" + NegHex2(code));
}

int32_t Start() {
  bool started = false;
  const int32_t modus = driver::Options.MODUS;
  if (driver::FatalErrorCode != 0) {
    WriteLog("SOXpSStart: FatalError=-$" + NegHex2(driver::FatalErrorCode));
  } else if (support::Log()->Demo()) {
    started = true;
  } else {
    WriteLog("SOXpSStart: Modus=" + support::IntStr(modus));
    treiber_thread = thread_factory(modus);
    if (treiber_thread) {
      started = true;
      try {
        treiber_thread->Resume();
      } catch (...) {
        started = false;
      }
    }
  }
  if (started && support::TestDbgFlag(128)) {
    driver::TCustomFunk* protocol = nullptr;
    if ((modus == 1 || modus == 2) && dynamic_cast<driver::tMOP*>(treiber_thread.get()))
      protocol = treiber_thread->Funk();
    debug_source.SetProtocol(protocol);
    debug_window = OpenDebugWindow(debug_source);
  }
  if (started)
    WriteLog("SOXpSStart: OPC-Server erfolgreich gestartet!");
  else
    ReportFailure();
  return started ? 1 : 0;
}

}  // namespace

void StartExportsUnit() { FillServerInitData(); }

void StopExportsUnit() {
  // A host that unloads without SOXpSStop must not leave the driver thread running in code
  // that is about to go away.
  FreeAll(false);
  std::string().swap(trace_file1);
  std::string().swap(trace_file2);
  init_data_filled = false;
}

TServerInitData& ServerInitData() { return init_data; }

void SetDriverThreadFactory(DriverThreadFactory factory) { thread_factory = factory ? factory : MakeDriverThread; }

driver::TDriverThread* TreiberThread() { return treiber_thread.get(); }

void* DebugWindow() { return debug_window; }

}  // namespace opc

using driver::WriteLog;

platform::toolkit::TServerInitData* SOXpSInitialize() {
  try {
    WriteLog("SOXpSInitialize: Start; Version=070226");
    const std::string arg = platform::UpperCase1252(QarHostFirstArgument());
    if (arg != "-REGSERVER" && arg != "-UNREGSERVER") driver::RecordFatalError(driver::CreateFML());
    if (support::TestDbgFlag(16)) {
      opc::ServerInitData().TraceLevel1 = opc::kHostTraceLevels;
      opc::ServerInitData().TraceLevel2 = opc::kHostTraceLevels;
    }
    WriteLog("SOXpSInitialize: iFatalError=-$" + opc::NegHex2(driver::FatalErrorCode) + ")");
  } catch (const std::exception& e) {
    WriteLog(std::string("SOXpSInitialize: Exception=") + e.what());
  } catch (...) {
  }
  return &opc::ServerInitData();
}

int32_t SOXpSStart() {
  try {
    return opc::Start();
  } catch (const std::exception& e) {
    WriteLog(std::string("SOXpSStart: Exception=") + e.what());
  } catch (...) {
  }
  return 0;
}

void SOXpSStop() {
  try {
    opc::FreeAll(true);
  } catch (const std::exception& e) {
    WriteLog(std::string("SOXpSStop: Exception=") + e.what());
  } catch (...) {
  }
}
