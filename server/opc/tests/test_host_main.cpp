// A host program for end-to-end tests. It loads the library that $OSTREL_LIBRARY names and runs
// the commands of $OSTREL_SCRIPT (separated by ";"), printing one line per result:
//   failnode NAME ERROR   createNode fails for NAME with that last error
//   init                  "record PROGID VIPROGID TRACEFILE1 TRACEFILE2 DEBUGMODE TRACELEVEL"
//   ns                    "tags N", then "tag ITEMID TYPE ACCESS HANDLE" per tag
//   start                 "start 0|1"
//   read ITEMID           "read ITEMID VT VALUE QUALITY"
//   wait-good ITEMID S    reads until the quality is good, at most S seconds: "good ITEMID 0|1"
//   write ITEMID VALUE    writes an integer: "write ITEMID RESULT"
//   stop, unload          "stop", "unload"
//   threads NAME MAX      "threads NAME N": the threads of the process with that name, once at
//                         most MAX or after 5 s (an ended thread leaves the list late)
// The host's first command-line argument is its own, so "-REGSERVER" reaches the library.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "platform/clock.h"
#include "platform/cp1252.h"
#include "platform/testing/threads.h"
#include "server/opc/tests/test_host.h"

namespace {

using opc::testing::TestHost;
namespace com = platform::com;

std::string Text(const com::Variant& v) {
  com::Variant text;
  if (com::FAILED(com::VariantChangeType(&text, v, 0, com::VT_BSTR))) return "?";
  return text.Str();
}

void Run(TestHost& host, const std::string& command) {
  std::istringstream in(command);
  std::string verb, item;
  in >> verb;
  if (verb == "failnode") {
    uint32_t error = 0;
    in >> item >> error;
    host.FailNode(item, error);
  } else if (verb == "init") {
    platform::toolkit::TServerInitData* d = host.Initialize();
    std::cout << "record " << d->ProgId << " " << d->VersionIndependentProgId << " " << d->TraceFile1 << " "
              << d->TraceFile2 << " " << d->DebugMode << " " << d->TraceLevel1 << "\n";
  } else if (verb == "ns") {
    host.BuildNameSpace();
    std::cout << "tags " << host.Tags().size() << "\n";
    for (const auto& t : host.Tags())
      std::cout << "tag " << platform::Cp1252ToUtf8(t.item_id) << " " << t.type << " " << t.access << " " << t.handle
                << "\n";
  } else if (verb == "start") {
    std::cout << "start " << (host.Start() ? 1 : 0) << "\n";
  } else if (verb == "read") {
    in >> item;
    auto a = host.Read(host.Handle(item));
    std::cout << "read " << item << " " << a.value.vt() << " " << Text(a.value) << " " << a.quality << "\n";
  } else if (verb == "wait-good") {
    int seconds = 0;
    in >> item >> seconds;
    // Waits for the driver's answer over a real line, polling as a host does, up to a deadline.
    platform::Clock& clock = platform::DefaultClock();
    const uint32_t start = clock.TickMs();
    bool good = false;
    while (!(good = host.Read(host.Handle(item)).quality == 0xC0) && clock.TickMs() - start < uint32_t(seconds) * 1000)
      clock.SleepMs(20);
    std::cout << "good " << item << " " << good << "\n";
  } else if (verb == "write") {
    int32_t value = 0;
    in >> item >> value;
    std::cout << "write " << item << " " << host.Write(host.Handle(item), com::Variant::I4(value)).result << "\n";
  } else if (verb == "stop") {
    host.Stop();
    std::cout << "stop\n";
  } else if (verb == "threads") {
    std::string name;
    long most = 0;
    in >> name >> most;
    const int n = platform::testing::ThreadsNamed(name, int(most));
    std::cout << "threads " << name << " " << n << "\n";
  } else if (verb == "unload") {
    host.Unload();
    std::cout << "unload\n";
  } else if (!verb.empty()) {
    std::cout << "unknown " << verb << "\n";
  }
  std::cout.flush();
}

}  // namespace

int main() {
  const char* library = std::getenv("OSTREL_LIBRARY");
  const char* script = std::getenv("OSTREL_SCRIPT");
  if (!library || !script) {
    std::fprintf(stderr, "set OSTREL_LIBRARY and OSTREL_SCRIPT\n");
    return 2;
  }
  std::string error;
  auto host = TestHost::Load(library, &error);
  if (!host) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::istringstream commands(script);
  for (std::string command; std::getline(commands, command, ';');) Run(*host, command);
  return 0;
}
