// The fixture of the library's unit tests: a scripted server that activation hands out, the
// program services captured, a loop the test drives and a clock that only moves when slept.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "opcclient/kopl.h"
#include "opcclient/tests/scripted_server.h"
#include "platform/clock.h"
#include "platform/com/class_registry.h"

namespace kopl::testing {

class KoplTest : public ::testing::Test {
 protected:
  platform::com::Apartment apartment;
  platform::ManualClock clock;
  std::shared_ptr<ScriptedServer> fake = std::make_shared<ScriptedServer>();

  // What the program services saw.
  std::vector<std::string> shown;
  std::vector<std::string> logged;
  std::vector<std::string> reported;  // exceptions that left an event handler
  int beeps = 0;
  // Activation: what was asked, and what it gives.
  int activations = 0;
  std::string activated_on;
  HRESULT activation_result = S_OK;
  std::shared_ptr<IUnknown> activation_object;  // the scripted server unless set
  bool activation_gives_nothing = false;        // succeeds without an object

  void SetUp() override {
    KoplServices s;
    s.build = KoplBuild::Explorer;
    s.message_box = [this](const std::string& t) { shown.push_back(t); };
    s.beep = [this] { ++beeps; };
    s.log = [this](const std::string& l) { logged.push_back(l); };
    s.handle_exception = [this](const std::exception& e) { reported.push_back(e.what()); };
    s.create_server = [this](const CLSID&, const std::string& computer, platform::com::Apartment&,
                             std::shared_ptr<IUnknown>* out, std::string*) {
      ++activations;
      activated_on = computer;
      if (FAILED(activation_result)) return activation_result;
      if (activation_gives_nothing) {
        out->reset();
        return S_OK;
      }
      *out = activation_object ? activation_object : std::static_pointer_cast<IOPCServer>(fake);
      return S_OK;
    };
    SetServices(std::move(s));
    platform::Registry reg;
    ServerRegistration r;
    r.clsid = kScriptedClsid;
    r.prog_id = kScriptedProgId;
    r.readable_name = "Scripted test server";
    r.command = "/nonexistent/scripted";
    ASSERT_TRUE(RegisterServer(r, reg));
  }
  void TearDown() override { SetServices({}); }

  std::unique_ptr<TKoplServer> MakeServer(KoplBuild build = KoplBuild::Explorer) {
    auto s = std::make_unique<TKoplServer>(build);
    s->SetApartment(apartment);
    s->SetClock(&clock);
    s->SetName("OPCServer");
    s->SetServerName(kScriptedProgId);
    return s;
  }
  // Runs what the sinks posted.
  size_t Run() { return apartment.RunPending(); }
  // Milliseconds the component slept on the clock since the test began.
  uint32_t Slept() { return clock.TickMs(); }
  void Know(std::initializer_list<const char*> ids, VARTYPE canonical = VT_I4) {
    for (const char* id : ids) fake->known[id].canonical = canonical;
  }
};

}  // namespace kopl::testing
