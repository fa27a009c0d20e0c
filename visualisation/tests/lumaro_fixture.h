// The fixture of the visualisation client's tests: a program folder and a current folder of
// the test's own, message boxes recorded, a clock that moves only when told, a callback loop
// the test runs, and the radio-modem server's ProgID registered so that every connection gets
// a scripted server of its own (as every client of a real server gets its own server object).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opcclient/kopl.h"
#include "opcclient/tests/scripted_server.h"
#include "platform/clock.h"
#include "platform/com/class_registry.h"
#include "platform/testing/recording_messages.h"
#include "platform/testing/temp_dir.h"
#include "visualisation/global.h"

namespace lumaro::testing {

namespace com = platform::com;
using kopl::testing::ScriptedServer;

inline constexpr com::CLSID kServerClsid{0x5D2C8E71, 0x0B4F, 0x4A96, {0x9E, 0x3D, 0x71, 0xC4, 0xA2, 0xB8, 0xF6, 0x05}};

inline com::ServerRegistration ServerRegistrationForTests() {
  com::ServerRegistration r;
  r.clsid = kServerClsid;
  r.prog_id = "Qar.OPC_DA_Server_RM.1";
  r.version_independent_prog_id = kServerProgId;
  r.readable_name = "Radio-modem server";
  r.command = "/nonexistent/ostrel-host";
  return r;
}

// A configuration with two stations: Pumpe (address 7) with an input, an output and an analog
// input, and Brunnen (address 12) without channels.
inline const char* const kTwoStations =
    "[ZENTRALFUNKMODEM]\r\n"
    "TYP=Zentrale,ZFM-100,3\r\n"
    "Option=0,0\r\n"
    "RS232=COM1,9600,None,8,1\r\n"
    "MODUS=1\r\n"
    "\r\n"
    "[UNTERSTATIONEN]\r\n"
    "TYP=Pumpe,PT100,0,7,0,0\r\n"
    "TYP=Brunnen,PT200,0,12,0,0\r\n"
    "\r\n"
    "[KONFIGURATOR]\r\n"
    "Pumpe=5\r\n"
    "Brunnen=6\r\n"
    "\r\n"
    "[ADR007+]\r\n"
    "Info=1,0,1,1,1,0\r\n"
    "Option=0,0\r\n"
    "[ADR007]\r\n"
    "KANAL=AE,Druck,bar, 1.00000000000000E-0001,0,2\r\n"
    "KANAL=BA,Motor,,0,0,0\r\n"
    "KANAL=BE,Taster,,0,0,0\r\n"
    "\r\n"
    "[ADR012+]\r\n"
    "Info=1,0,0,0,0,0\r\n"
    "Option=0,0\r\n"
    "[ADR012]\r\n";

class LumaroTest : public ::testing::Test {
 protected:
  platform::testing::TempDir program;
  platform::testing::TempDir current;
  platform::testing::RecordingMessages messages;
  platform::ManualClock clock;
  com::Apartment apartment;
  Context context;

  // Every activation's server, in order; prepare runs on each before it is handed out.
  std::vector<std::shared_ptr<ScriptedServer>> servers;
  std::function<void(ScriptedServer&)> prepare;
  com::HRESULT activation_result = com::S_OK;

  void SetUp() override {
    context.messages = &messages;
    context.clock = &clock;
    context.apartment = &apartment;
    context.program_dir = program.Path();
    context.current_dir = current.Path();
    context.format = NumberFormat{'.', ','};
    kopl::KoplServices s;
    s.build = kopl::KoplBuild::Visualisation;
    s.message_box = [this](const std::string& t) {
      messages.Show(platform::MessageKind::Plain, t, platform::MessageButtons::Ok);
    };
    s.beep = [] {};
    s.log = [](const std::string&) {};
    s.handle_exception = [this](const std::exception& e) { ShowError(context, e.what()); };
    s.create_server = [this](const com::CLSID&, const std::string&, com::Apartment&,
                             std::shared_ptr<com::IUnknown>* out, std::string*) {
      if (com::FAILED(activation_result)) return activation_result;
      auto server = std::make_shared<ScriptedServer>();
      if (prepare) prepare(*server);
      servers.push_back(server);
      *out = std::static_pointer_cast<com::IOPCServer>(server);
      return com::S_OK;
    };
    kopl::SetServices(std::move(s));
    platform::Registry reg;
    ASSERT_TRUE(com::RegisterServer(ServerRegistrationForTests(), reg));
  }

  void TearDown() override {
    platform::Registry reg;
    com::UnregisterServer(ServerRegistrationForTests(), reg);
    kopl::SetServices({});
  }

  void WriteIni(const std::string& text) { program.Write("Ostrel.INI", text); }
  // Items the scripted servers know, with their canonical types.
  void Know(std::vector<std::string> ids) {
    prepare = [ids](ScriptedServer& s) {
      for (const std::string& id : ids) s.known[id].canonical = com::VT_R8;
    };
  }
  // Every status item of the central modem and the stations of kTwoStations, and their channels.
  static std::vector<std::string> TwoStationItems() {
    std::vector<std::string> ids = {"Zentrale.RS_STATUS",   "Zentrale.RS_DCF_TIME", "Zentrale.RM_RECPOWER",
                                    "Zentrale.Pumpe.Druck", "Zentrale.Pumpe.Motor", "Zentrale.Pumpe.Taster"};
    for (const char* station : {"Pumpe", "Brunnen"}) {
      for (const char* reg : {"RS_STATUS", "RM_STATNR", "RM_RECPOWER", "RM_SENDPOWER", "RS_KOM_OK", "RS_KOM_FAIL",
                              "RS_RESPTIME", "RM_SNR"})
        ids.push_back(std::string("Zentrale.") + station + "." + reg);
    }
    return ids;
  }
  size_t Run() { return apartment.RunPending(); }
};

}  // namespace lumaro::testing
